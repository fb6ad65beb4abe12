#include "Fixtures.h"

#include <QDir>
#include <QFile>
#include <QSqlError>

#include <stdexcept>

#include "app/BookQueries.h"
#include "engine/Engine.h"
#include "engine/PgEngine.h"
#include "engine/ServerUri.h"


namespace bench {

QString titleSearch(const QString &text)
{
    return zeplo::searchFilter(zeplo::schema::Title, text);
}

QString stockSql(const QString &filter, const QString &order)
{
    // The engine's own dialect: single-quoted literals, its own LIKE and collation.
    QString f = filter;
    f.replace(QLatin1Char('"'), QLatin1Char('\''));
    return zeplo::kBaseQuery + QLatin1Char(' ') + f + QLatin1Char(' ') + order;
}

long peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

quint64 roundTrips()
{
    const auto server = std::dynamic_pointer_cast<zeplo::PgEngine>(zeplo::Engine::openDefault());
    return server ? server->roundTrips() : 0;
}

Ours::Ours()
    : grid(*new zeplo::DataGrid(&window)), memo1(*new zeplo::FieldMemo(&window)), memo3(*new zeplo::FieldMemo(&window)),
      check1(*new zeplo::FieldCheckBox(&window)), check2(*new zeplo::FieldCheckBox(&window))
{
    // The program keeps its catalogue open for the whole session, and the stock
    // way keeps its database connection from one repetition to the next: so does
    // this side, rather than connecting afresh in every timed step.
    static const std::shared_ptr<zeplo::Engine> session = zeplo::Engine::openDefault();
    query.setRequestLive(true);
    source.setDataSet(&query);
    window.setFixedSize(774, 664);
    grid.setGeometry(0, 8, kGridWidth, kGridHeight);
    memo1.setGeometry(8, 352, 185, 305);
    memo3.setGeometry(208, 352, 185, 305);
    check2.setGeometry(648, 272, 97, 17);
    check1.setGeometry(648, 296, 121, 17);
    grid.setDataSource(&source);
    memo1.setReadOnly(true);
    memo1.setDataField(QStringLiteral("Popis"));
    memo1.setDataSource(&source);
    memo3.setReadOnly(true);
    memo3.setDataField(QStringLiteral("Pujceno"));
    memo3.setDataSource(&source);
    check1.setDataField(QStringLiteral("Vlastnim"));
    check1.setDataSource(&source);
    check2.setDataField(QStringLiteral("Precteno"));
    check2.setDataSource(&source);
    window.show();
}

Ours::~Ours()
{
    query.close();
}

void Ours::openWith(const QStringList &sql)
{
    query.sqlClear();
    for (const QString &line : sql)
        query.sqlAdd(line);
    query.open();
    show();
}

void Ours::show()
{
    grid.viewport()->repaint();
}

Stock::Stock(bool tableModel)
{
    const QString name = QStringLiteral("stock");
    const QString server = zeplo::Engine::catalogue();
    const bool onServer = zeplo::PgEngine::isServerUri(server);
    db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name)
                                      : QSqlDatabase::addDatabase(onServer ? QStringLiteral("QPSQL")
                                                                           : QStringLiteral("QSQLITE"), name);
    if (onServer) {
        // Qt's driver takes the connection's parts one by one.
        for (const auto &[keyword, text] : zeplo::connectionParameters(server.toStdString())) {
            const QString value = QString::fromStdString(text);
            if (keyword == "host") db.setHostName(value);
            else if (keyword == "port") db.setPort(value.toInt());
            else if (keyword == "dbname") db.setDatabaseName(value);
            else if (keyword == "user") db.setUserName(value);
            else if (keyword == "password") db.setPassword(value);
            else if (keyword == "sslmode") db.setConnectOptions(QStringLiteral("sslmode=") + value);
        }
    } else {
        db.setDatabaseName(QDir::current().absoluteFilePath(QStringLiteral("zeplo.db")));
    }
    if (!db.open())
        throw std::runtime_error(db.lastError().text().toStdString());
    if (tableModel)
        model = std::make_unique<QSqlTableModel>(nullptr, db);
    else
        model = std::make_unique<QSqlQueryModel>();
    view.resize(kGridWidth, kGridHeight);
    view.setModel(model.get());
    view.show();
}

Stock::~Stock()
{
    view.setModel(nullptr);
    model.reset();
    db.close();
}

void Stock::setQuery(const QString &sql)
{
    model->setQuery(sql, db);
    if (model->lastError().isValid())
        throw std::runtime_error(model->lastError().text().toStdString());
    view.setCurrentIndex(model->index(0, 0));
    show();
}

void Stock::show()
{
    view.viewport()->repaint();
}

void Stock::fetchAll()
{
    while (model->canFetchMore())
        model->fetchMore();
}

} // namespace bench
