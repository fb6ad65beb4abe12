#include "Books.h"

#include "engine/Error.h"

namespace zeplo::tool {

void fail(const std::string &message) { throw Error(QString::fromStdString(message)); }

std::string bookCount(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " book" : " books"); }

std::string columnList()
{
    std::string list;
    for (const Column &column : kColumns)
        list += (list.empty() ? "" : ",") + std::string(column.name);
    return list;
}

} // namespace zeplo::tool
