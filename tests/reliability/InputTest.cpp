// What the user types into the search boxes and the integer fields can neither
// reach the SQL nor store anything it should not.
#include <gtest/gtest.h>

#include "ChildRoles.h"
#include "TempCatalogue.h"
#include "widgets/ErrorGuard.h"
#include "engine/SqlDialect.h"
#include "engine/Field.h"
#include "engine/ResultSet.h"

using namespace zeplo;

namespace {

const QString kLower = QStringLiteral("áčďéěíňóřšťúůýž");
const QString kUpper = QStringLiteral("ÁČĎÉĚÍŇÓŘŠŤÚŮÝŽ");

QString searchFilter(const char *column, const QString &text)
{
    return QStringLiteral("where (%1 like\"%").arg(QLatin1String(column)) + quoteSearchText(text)
           + QStringLiteral("%\")");
}

QStringList found(const char *column, const QString &text)
{
    ResultSet q(QStringLiteral("Query1"));
    q.setRequestLive(true);
    q.setSql({kBookColumns, searchFilter(column, text), QStringLiteral("order by nazev")});
    q.open();
    QStringList out;
    for (q.first(); !q.eof(); q.next())
        out << q.fieldByName(QStringLiteral("nazev"))->displayText();
    return out;
}

// Everything stored, as one text, to see that a search changed nothing.
QString snapshot(TempCatalogue &c)
{
    if (c.engine() == CatalogueEngine::Server)
        return c.scalar(QStringLiteral("select string_agg(id || '|' || coalesce(autor,'') || '|' || coalesce(nazev,'') "
                                       "|| '|' || coalesce(zanr,'') || '|' || coalesce(rok_vydani::text,''), chr(10) "
                                       "order by id) from zeplo"))
            .toString();
    return c.scalar(QStringLiteral("select group_concat(id || '|' || ifnull(autor,'') || '|' || ifnull(nazev,'') || '|' "
                                   "|| ifnull(zanr,'') || '|' || ifnull(rok_vydani,''), char(10)) from zeplo"))
        .toString();
}

} // namespace

class SearchInput : public testing::TestWithParam<CatalogueEngine> {};
INSTANTIATE_TEST_SUITE_P(Engines, SearchInput, kEachEngine, engineName);

TEST_P(SearchInput, EveryCzechLetterIsFoundInEitherCaseAndOnlyItself)
{
    TempCatalogue c(GetParam());
    // One book per letter, its title and author holding the lower-case letter
    // and its genre the capital; one book with the bare letters.
    for (qsizetype i = 0; i < kLower.size(); ++i)
        c.addBook(QStringLiteral("a") + kLower[i], QStringLiteral("k") + kLower[i] + QStringLiteral("k"),
                  QStringLiteral("Z") + kUpper[i]);
    c.addBook(QStringLiteral("plain"), QStringLiteral("acdeinorstuyz"), QStringLiteral("ACDEINORSTUYZ"));
    const QString before = snapshot(c);

    for (qsizetype i = 0; i < kLower.size(); ++i) {
        const QStringList expected{QStringLiteral("k") + kLower[i] + QStringLiteral("k")};
        for (const QString &letter : {QString(kLower[i]), QString(kUpper[i])}) {
            EXPECT_EQ(found("nazev", letter), expected) << letter.toStdString();
            EXPECT_EQ(found("autor", letter), expected) << letter.toStdString();
            EXPECT_EQ(found("zanr", letter), expected) << letter.toStdString();
        }
    }
    // "ch" is two letters to the search, as to the engine.
    EXPECT_EQ(found("nazev", QStringLiteral("kček")), QStringList());
    EXPECT_EQ(snapshot(c), before);
}

TEST_P(SearchInput, AllLettersAndHostileTextsInOneSearchTouchNoRow)
{
    TempCatalogue c(GetParam());
    const QString all = kLower + kUpper;
    c.addBook(QStringLiteral("Všichni"), all, QStringLiteral("Česká"));
    c.addBook(QStringLiteral("Nikdo"), QStringLiteral("\"'%_\\;--"), QStringLiteral("Jiná"));
    const QString before = snapshot(c);
    EXPECT_EQ(found("nazev", kUpper + kLower), QStringList{all});
    EXPECT_EQ(found("nazev", kUpper.right(3)), QStringList{all});
    // The second title holds every special character at once.
    EXPECT_EQ(found("nazev", QStringLiteral("\"'")), QStringList{QStringLiteral("\"'%_\\;--")});
    EXPECT_EQ(found("nazev", QStringLiteral("\\;--")), QStringList{QStringLiteral("\"'%_\\;--")});
    const QString longText = all.repeated(10000 / int(all.size()) + 1).left(10000);
    EXPECT_EQ(found("nazev", longText), QStringList());
    EXPECT_EQ(found("autor", QStringLiteral("\") or 1=1; update zeplo set nazev=\"x")), QStringList());
    EXPECT_EQ(found("zanr", QStringLiteral("\x01\x02\x1f\x7f")), QStringList());
    EXPECT_EQ(snapshot(c), before);
}

TEST(FieldInput, ARejectedIntegerLeavesTheFieldAndTheStoredRowAsTheyWere)
{
    TempCatalogue c;
    c.addBook(QStringLiteral("Autor"), QStringLiteral("Kniha"), QString(), 1950);
    ResultSet q(QStringLiteral("Query1"));
    q.setRequestLive(true);
    q.setSql({kBookColumns, QString(), QString()});
    q.open();
    q.edit();
    Field *rok = q.fieldByName(QStringLiteral("rok_vydani"));
    const QStringList bad = {QStringLiteral("-"), QStringLiteral("+"), QStringLiteral("+-1"), QStringLiteral("--1"),
                             QStringLiteral("32768"), QStringLiteral("-32769"),
                             QStringLiteral("99999999999999999999999"), QStringLiteral("12 "), QStringLiteral("1 2"),
                             QStringLiteral("\t12"), QStringLiteral("１２"), QStringLiteral("٣"),
                             QStringLiteral("²"), QStringLiteral("1e3"), QStringLiteral("0x10"), QStringLiteral("12.0")};
    for (const QString &text : bad) {
        try {
            rok->setAsText(text);
            ADD_FAILURE() << "accepted " << text.toStdString();
        } catch (const Error &e) {
            EXPECT_EQ(e.message(), QStringLiteral("'%1' is not a valid integer value for field 'rok_vydani'").arg(text));
        }
        EXPECT_EQ(rok->asInteger(), 1950) << text.toStdString();
    }
    EXPECT_FALSE(q.modified());
    q.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Jiná"));
    q.post();
    EXPECT_EQ(c.scalar(QStringLiteral("select rok_vydani from zeplo")).toInt(), 1950);
    EXPECT_EQ(c.scalar(QStringLiteral("select typeof(rok_vydani) from zeplo")).toString(), QStringLiteral("integer"));
    // The ends of the range are taken.
    q.edit();
    rok->setAsText(QStringLiteral("32767"));
    q.post();
    EXPECT_EQ(c.scalar(QStringLiteral("select rok_vydani from zeplo")).toInt(), 32767);
}
