// A delaying relay for the server benchmarks: every connection to its port is
// passed on to the server's, after the given delay each way, as a network of
// twice that round trip would. Prints its port; runs until its input closes.
//   zeplo_relay SERVER_PORT DELAY_EACH_WAY_US

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include "TcpRelay.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SERVER_PORT DELAY_EACH_WAY_US\n", argv[0]);
        return 2;
    }
    TcpRelay relay("127.0.0.1", std::atoi(argv[1]), std::atoi(argv[2]));
    std::printf("%d\n", relay.port());
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    return 0;
}
