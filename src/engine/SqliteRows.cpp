#include "engine/SqliteRows.h"

#include <sqlite3.h>

#include "engine/SqliteConnection.h"

namespace zeplo {

QVariant columnValue(sqlite3_stmt *stmt, int i)
{
    switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(stmt, i)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, i));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)),
                                          sqlite3_column_bytes(stmt, i)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char *>(sqlite3_column_blob(stmt, i)),
                                   sqlite3_column_bytes(stmt, i)));
    default:
        return QVariant();
    }
}

RowValues rowValues(sqlite3_stmt *stmt, int n, int first)
{
    RowValues values;
    values.reserve(n);
    for (int i = first; i < first + n; ++i)
        values << columnValue(stmt, i);
    return values;
}

void bindValue(sqlite3 *db, sqlite3_stmt *stmt, int index, const QVariant &v)
{
    int rc = SQLITE_OK;
    if (v.isNull() || !v.isValid()) {
        rc = sqlite3_bind_null(stmt, index);
    } else {
        switch (v.typeId()) {
        case QMetaType::Bool:
            rc = sqlite3_bind_int(stmt, index, v.toBool() ? 1 : 0);
            break;
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::Short:
            rc = sqlite3_bind_int64(stmt, index, v.toLongLong());
            break;
        case QMetaType::Double:
            rc = sqlite3_bind_double(stmt, index, v.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray b = v.toByteArray();
            rc = sqlite3_bind_blob(stmt, index, b.constData(), int(b.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray b = v.toString().toUtf8();
            rc = sqlite3_bind_text(stmt, index, b.constData(), int(b.size()), SQLITE_TRANSIENT);
        }
        }
    }
    SqliteConnection::check(db, rc);
}

std::vector<ColumnInfo> describeColumns(sqlite3 *db, sqlite3_stmt *stmt)
{
    std::vector<ColumnInfo> columns;
    const int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
        ColumnInfo c;
        c.name = QString::fromUtf8(sqlite3_column_name(stmt, i));
        const char *decl = sqlite3_column_decltype(stmt, i);
        c.declType = QString::fromUtf8(decl ? decl : "").toUpper();
        const char *origin = sqlite3_column_origin_name(stmt, i);
        const char *table = sqlite3_column_table_name(stmt, i);
        if (origin && table) {
            c.origin = QString::fromUtf8(origin);
            int notNull = 0, primaryKey = 0, autoInc = 0;
            const char *type = nullptr;
            if (sqlite3_table_column_metadata(db, sqlite3_column_database_name(stmt, i), table, origin, &type,
                                              nullptr, &notNull, &primaryKey, &autoInc) == SQLITE_OK) {
                c.notNull = notNull != 0;
                // An INTEGER PRIMARY KEY is the row id: the table fills it.
                const bool rowIdAlias = primaryKey && type && QString::fromUtf8(type).toUpper() == QLatin1String("INTEGER");
                c.autoIncrement = autoInc != 0 || rowIdAlias;
            }
        }
        columns.push_back(c);
    }
    return columns;
}

} // namespace zeplo
