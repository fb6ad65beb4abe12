#pragma once

#include <memory>

#include <QRegularExpression>

#include "TcpRelay.h"
#include "TempCatalogue.h"
#include "app/BookQueries.h"
#include "engine/PgConnection.h"
#include "engine/ResultSet.h"

// The catalogue's database reached through a relay of the test's own, over
// TLS with the certificate verified; commands give up after 1.5 s.
struct RelayedCatalogue {
    explicit RelayedCatalogue(int books) : catalogue(CatalogueEngine::ServerTls)
    {
        catalogue.addBooks(books);
        static const QRegularExpression port(QStringLiteral(R"(@localhost:(\d+)/)"));
        QString uri = catalogue.uri();
        relay = std::make_unique<TcpRelay>("127.0.0.1", port.match(uri).captured(1).toInt());
        uri.replace(port, QStringLiteral("@localhost:%1/").arg(relay->port()));
        zeplo::Engine::setCatalogue(uri);
        previousDeadline_ = zeplo::PgConnection::deadlineMs();
        zeplo::PgConnection::setDeadlineMs(1500);
        query.setRequestLive(true);
        query.setSql(zeplo::mainQuery({}, {}));
        query.open();
    }
    ~RelayedCatalogue()
    {
        zeplo::PgConnection::setDeadlineMs(previousDeadline_);
        query.close();
    }
    TempCatalogue catalogue;
    std::unique_ptr<TcpRelay> relay;
    zeplo::ResultSet query{QStringLiteral("Query1")};

private:
    int previousDeadline_ = 0;
};

