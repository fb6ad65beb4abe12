#pragma once

#include "engine/DataSource.h"
#include "engine/ResultSet.h"

// A link that only asks for a window of rows, as a grid of that many lines would.
struct WindowLink : zeplo::DataLink {
    explicit WindowLink(int lines = 5) : lines(lines) {}
    int lines;
    int bufferCount() const override { return lines; }
    void dataEvent(zeplo::DataEvent, zeplo::Field *) override {}
};

// Query1 as the main window holds it: live, its window the grid's eighteen lines.
struct GridList {
    explicit GridList(const QStringList &sql)
    {
        source.setDataSet(&query);
        link.setDataSource(&source);
        query.setRequestLive(true);
        query.setSql(sql);
        query.open();
    }
    zeplo::ResultSet query{QStringLiteral("Query1")};
    zeplo::DataSource source;
    WindowLink link{18};
};
