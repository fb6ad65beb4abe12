// The scenarios, each on both sides. Every benchmark runs one step per
// repetition (--benchmark_repetitions gives the medians); what a step needs
// beforehand is done outside the timed loop. Peak memory is the process's
// high-water mark, so scripts/bench runs every scenario in its own process.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "Fixtures.h"
#include "app/BookQueries.h"
#include "app/BookListReport.h"
#include "engine/Field.h"
#include "report/PageStore.h"
#include "report/ReportOutput.h"

namespace bench {

namespace {

constexpr int kPageDowns = 200;
const QString kCommonFragment = QStringLiteral("cesta");
const QString kMissingFragment = QStringLiteral("žluťoučký kůň");

void finish(benchmark::State &state)
{
    state.counters["peak_kb"] = double(peakKb());
}

// Runs `body`, turning a failure into a reported error rather than a crash.
void guarded(benchmark::State &state, const std::function<void()> &body)
{
    try {
        body();
    } catch (const std::exception &e) {
        state.SkipWithError(e.what());
    }
}

// The round trips of the timed steps while it lives, as the counter "trips"
// (the last repetition's): what a step costs on a network, whatever the machine.
class TripCount {
public:
    explicit TripCount(benchmark::State &state) : state_(state), start_(roundTrips()) {}
    ~TripCount() { state_.counters["trips"] = double(roundTrips() - start_); }

private:
    benchmark::State &state_;
    quint64 start_;
};

void expect(benchmark::State &state, bool ok, const char *what)
{
    if (!ok)
        state.SkipWithError(what);
}

// ---- the program's side ------------------------------------------------------

void oursOpen(benchmark::State &state)
{
    guarded(state, [&] {
        Ours ours;
        // Connected to the catalogue first, as the stock side opens its
        // database before its timed step; the list's own statements are
        // prepared in the first step and kept by the engine for the next.
        zeplo::ResultSet connected(QStringLiteral("Query2"));
        connected.setSql({zeplo::kCountQuery});
        connected.open();
        ours.query.sqlClear();
        for (const QString &line : mainQuery())
            ours.query.sqlAdd(line);
        for (auto _ : state) {
            TripCount trips(state);
            ours.query.open();
            ours.show();
        }
        expect(state, ours.query.active(), "not open");
        finish(state);
    });
}

// Each repetition times `step` on the list as it was left, opened once.
void oursOpened(benchmark::State &state, const std::function<void(Ours &)> &step)
{
    guarded(state, [&] {
        Ours ours;
        ours.openWith(mainQuery());
        for (auto _ : state) {
            TripCount trips(state);
            step(ours);
        }
        state.counters["row"] = double(ours.query.recNo());
        finish(state);
    });
}

void oursCtrlEnd(benchmark::State &state)
{
    oursOpened(state, [&](Ours &ours) {
        QTest::keyClick(&ours.grid, Qt::Key_End, Qt::ControlModifier);
        ours.show();
        state.PauseTiming();
        const bool atEnd = ours.query.eof() && ours.query.activeLine() == ours.query.windowRowCount() - 1;
        state.ResumeTiming();
        QTest::keyClick(&ours.grid, Qt::Key_Home, Qt::ControlModifier);
        ours.show();
        expect(state, atEnd && ours.query.recNo() == 1, "Ctrl+End / Ctrl+Home did not reach the ends");
    });
}

void oursPageDown(benchmark::State &state)
{
    oursOpened(state, [](Ours &ours) {
        for (int i = 0; i < kPageDowns; ++i) {
            QTest::keyClick(&ours.grid, Qt::Key_PageDown);
            ours.show();
        }
    });
}

void oursOpenWith(benchmark::State &state, const QStringList &sql)
{
    guarded(state, [&] {
        Ours ours;
        ours.openWith(mainQuery());
        for (auto _ : state) {
            TripCount trips(state);
            ours.openWith(sql);
        }
        state.counters["rows_shown"] = ours.query.windowRowCount();
        finish(state);
    });
}

void oursCount(benchmark::State &state)
{
    guarded(state, [&] {
        Ours ours;
        ours.openWith(mainQuery());
        zeplo::ResultSet query2(QStringLiteral("Query2"));
        qint64 count = -1;
        for (auto _ : state) {
            TripCount trips(state);
            // As the main window refreshes its count panel.
            query2.setSql({zeplo::kCountQuery});
            query2.open();
            query2.first();
            count = query2.fieldByName(QStringLiteral("x"))->asInteger();
            query2.close();
        }
        state.counters["count"] = double(count);
        finish(state);
    });
}

void oursAppendPost(benchmark::State &state)
{
    guarded(state, [&] {
        Ours ours;
        for (auto _ : state) {
            state.PauseTiming();
            ours.openWith(mainQuery());   // as the editor finds the list: at its top
            state.ResumeTiming();
            std::optional<TripCount> trips(state);
            ours.query.append();
            ours.query.fieldByName(QStringLiteral("Nazev"))->setValue(QStringLiteral("Zkušební kniha"));
            ours.query.post();
            ours.show();
            trips.reset();
            state.PauseTiming();
            const bool shown = ours.query.fieldByName(QStringLiteral("Nazev"))->value().toString()
                               == QStringLiteral("Zkušební kniha");
            ours.query.deleteRecord();   // the catalogue keeps its size
            state.ResumeTiming();
            expect(state, shown, "the posted row is not current");
        }
        finish(state);
    });
}

void oursEditPost(benchmark::State &state)
{
    guarded(state, [&] {
        Ours ours;
        int n = 0;
        for (auto _ : state) {
            state.PauseTiming();
            ours.openWith(mainQuery());
            const QString title = QStringLiteral("Upravený název %1").arg(++n);
            state.ResumeTiming();
            TripCount trips(state);
            ours.query.edit();
            ours.query.fieldByName(QStringLiteral("Nazev"))->setValue(title);
            ours.query.post();
            ours.show();
            expect(state, ours.query.fieldByName(QStringLiteral("Nazev"))->value().toString() == title,
                   "the posted row is not current");
        }
        finish(state);
    });
}

// With `controls` false the result set has no data source: the figure then
// shows what the rendering itself costs, without the grid and field controls
// that follow every row.
void oursReport(benchmark::State &state, bool controls)
{
    guarded(state, [&] {
        Ours ours;
        ours.openWith(mainQuery());
        if (!controls)
            ours.source.setDataSet(nullptr);
        zeplo::BookListReport tisk(&ours.query);
        double firstPageMs = 0, seconds = 0;
        int pages = 0, lines = 0;
        for (auto _ : state) {
            zeplo::PageStore store;
            zeplo::PagePictureOutput output(store);
            QElapsedTimer clock;
            bool first = true;
            output.pageFinished = [&](int) {
                if (first)
                    firstPageMs = double(clock.nsecsElapsed()) / 1e6;
                first = false;
            };
            clock.start();
            TripCount trips(state);
            tisk.render(output);
            seconds = double(clock.nsecsElapsed()) / 1e9;
            pages = store.pageCount();
            lines = tisk.pageCount() > 0 ? int(ours.query.recNo()) : 0;
        }
        state.counters["pages"] = pages;
        state.counters["first_page_ms"] = firstPageMs;
        state.counters["pages_per_s"] = pages / seconds;
        state.counters["lines_per_s"] = lines / seconds;
        finish(state);
    });
}

// ---- the stock way -------------------------------------------------------------

void stockOpen(benchmark::State &state)
{
    guarded(state, [&] {
        Stock stock;
        for (auto _ : state)
            stock.setQuery(stockSql());
        finish(state);
    });
}

// Each repetition shows the list from its first row, untimed, then times `step`.
void stockFromTheTop(benchmark::State &state, const std::function<void(Stock &)> &step)
{
    guarded(state, [&] {
        Stock stock;
        for (auto _ : state) {
            state.PauseTiming();
            stock.setQuery(stockSql());
            state.ResumeTiming();
            step(stock);
        }
        state.counters["row"] = stock.view.currentIndex().row() + 1;
        finish(state);
    });
}

void stockCtrlEnd(benchmark::State &state)
{
    stockFromTheTop(state, [&](Stock &stock) {
        // The view's own Ctrl+End fetches only the next batch of rows, so
        // the real last row is reached by fetching everything first.
        stock.fetchAll();
        const int last = stock.model->rowCount() - 1;
        stock.view.setCurrentIndex(stock.model->index(last, 0));
        stock.view.scrollToBottom();
        stock.show();
        QTest::keyClick(&stock.view, Qt::Key_Home, Qt::ControlModifier);
        stock.show();
        expect(state, stock.view.currentIndex().row() == 0, "Ctrl+Home did not reach the first row");
    });
}

void stockPageDown(benchmark::State &state)
{
    stockFromTheTop(state, [](Stock &stock) {
        for (int i = 0; i < kPageDowns; ++i) {
            QTest::keyClick(&stock.view, Qt::Key_PageDown);
            stock.show();
        }
    });
}

void stockOpenWith(benchmark::State &state, const QString &sql)
{
    guarded(state, [&] {
        Stock stock;
        stock.setQuery(stockSql());
        for (auto _ : state)
            stock.setQuery(sql);
        state.counters["rows_shown"] = std::min(stock.model->rowCount(), 1000);
        finish(state);
    });
}

void stockCount(benchmark::State &state)
{
    guarded(state, [&] {
        Stock stock;
        stock.setQuery(stockSql());
        qint64 count = -1;
        for (auto _ : state) {
            QSqlQuery q(zeplo::kCountQuery, stock.db);
            q.next();
            count = q.value(0).toLongLong();
        }
        state.counters["count"] = double(count);
        finish(state);
    });
}

// The stock way's editable table over the catalogue; gives the title's column.
int editTable(Stock &stock)
{
    stock.table()->setTable(QStringLiteral("zeplo"));
    stock.table()->setEditStrategy(QSqlTableModel::OnManualSubmit);
    // In key order: a server keeps a changed row elsewhere than where it was.
    stock.table()->setSort(stock.table()->fieldIndex(QStringLiteral("id")), Qt::AscendingOrder);
    return stock.table()->fieldIndex(QStringLiteral("nazev"));
}

void stockAppendPost(benchmark::State &state)
{
    guarded(state, [&] {
        Stock stock(true);
        const int titleColumn = editTable(stock);
        for (auto _ : state) {
            state.PauseTiming();
            stock.table()->select();
            stock.view.setCurrentIndex(stock.model->index(0, 0));
            stock.show();
            state.ResumeTiming();
            const int row = stock.model->rowCount();
            stock.table()->insertRow(row);
            stock.table()->setData(stock.model->index(row, titleColumn), QStringLiteral("Zkušební kniha"));
            const bool ok = stock.table()->submitAll();
            // submitAll() selects afresh; the new row is the last one.
            stock.fetchAll();
            stock.view.setCurrentIndex(stock.model->index(stock.model->rowCount() - 1, titleColumn));
            stock.view.scrollToBottom();
            stock.show();
            state.PauseTiming();
            const bool shown = stock.view.currentIndex().data().toString() == QStringLiteral("Zkušební kniha");
            QSqlQuery(QStringLiteral("delete from zeplo where id = (select max(id) from zeplo)"), stock.db);
            state.ResumeTiming();
            expect(state, ok && shown, "the posted row is not shown");
        }
        finish(state);
    });
}

void stockEditPost(benchmark::State &state)
{
    guarded(state, [&] {
        Stock stock(true);
        const int titleColumn = editTable(stock);
        int n = 0;
        for (auto _ : state) {
            state.PauseTiming();
            stock.table()->select();
            stock.view.setCurrentIndex(stock.model->index(0, titleColumn));
            stock.show();
            const QString title = QStringLiteral("Upravený název %1").arg(++n);
            state.ResumeTiming();
            stock.table()->setData(stock.model->index(0, titleColumn), title);
            const bool ok = stock.table()->submitAll();
            stock.view.setCurrentIndex(stock.model->index(0, titleColumn));
            stock.show();
            expect(state, ok && stock.view.currentIndex().data().toString() == title, "the posted row is not shown");
        }
        finish(state);
    });
}

void add(const std::string &name, std::function<void(benchmark::State &)> fn)
{
    benchmark::RegisterBenchmark(name.c_str(), [fn](benchmark::State &s) { fn(s); })
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

} // namespace

void registerScenarios()
{
    struct Sort {
        const char *name;
        const char *order;
    };
    const Sort sorts[] = {{"sort_nazev", "order by nazev"},
                          {"sort_zanr", "order by zanr"},
                          {"sort_autor", "order by autor"},
                          {"sort_rok_vydani", "order by rok_vydani"}};

    add("open/ours", oursOpen);
    add("open/stock", stockOpen);
    add("ctrl_end_home/ours", oursCtrlEnd);
    add("ctrl_end_home/stock", stockCtrlEnd);
    add("page_down_200/ours", oursPageDown);
    add("page_down_200/stock", stockPageDown);
    for (const auto &[name, fragment] : {std::pair{"search_common", kCommonFragment},
                                         std::pair{"search_none", kMissingFragment}}) {
        const QString filter = titleSearch(fragment);
        add(std::string(name) + "/ours", [filter](benchmark::State &s) { oursOpenWith(s, mainQuery(filter)); });
        add(std::string(name) + "/stock", [filter](benchmark::State &s) { stockOpenWith(s, stockSql(filter)); });
    }
    for (const Sort &sort : sorts) {
        const QString order = QString::fromLatin1(sort.order);
        add(std::string(sort.name) + "/ours", [order](benchmark::State &s) { oursOpenWith(s, mainQuery({}, order)); });
        add(std::string(sort.name) + "/stock", [order](benchmark::State &s) { stockOpenWith(s, stockSql({}, order)); });
    }
    add("count/ours", oursCount);
    add("count/stock", stockCount);
    add("append_post/ours", oursAppendPost);
    add("append_post/stock", stockAppendPost);
    add("edit_post/ours", oursEditPost);
    add("edit_post/stock", stockEditPost);
    add("report/ours", [](benchmark::State &s) { oursReport(s, true); });
    add("report_without_controls/ours", [](benchmark::State &s) { oursReport(s, false); });
}

} // namespace bench
