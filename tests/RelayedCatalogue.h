#pragma once

#include <memory>

#include <QRegularExpression>

#include "TcpRelay.h"
#include "TempCatalogue.h"
#include "engine/PgConnection.h"
#include "engine/ResultSet.h"

// The catalogue's database reached through a relay of the test's own, over
// TLS with the certificate verified, and the list of its books open as the
// main window's query; commands give up after 1.5 s.
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
        query.setSql({TempCatalogue::kBaseQuery, QString(), QString()});
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

