// Fields over what a catalogue file may hold: values of other storage types
// than the columns declare (a file another program wrote), and columns of
// every declared type a table may have.
#include <gtest/gtest.h>

#include "ErrorOf.h"
#include "TempCatalogue.h"
#include "WindowLink.h"
#include "engine/ResultSet.h"

using namespace zeplo;

namespace {

QString display(ResultSet &query, const char *name)
{
    return query.fieldByName(QLatin1String(name))->displayText();
}

} // namespace

TEST(FieldValues, ValuesOfOtherTypesAreReadByTheColumnsKindAndSuchARowStillPostsAndDeletes)
{
    TempCatalogue catalogue(CatalogueEngine::File);
    // Reals, texts and blobs where the table declares whole numbers, logical values and long texts.
    catalogue.exec(QStringLiteral(
        "insert into zeplo (id, nazev, rok_vydani, vlastnim, precteno, popis, pujceno) values "
        "(1, 'reals', 1936.6, 2.5, 0.0, x'4b6e69686121', 12),"
        "(2, 'texts', char(160) || '42', 'Yes', 'F', 'popis', NULL),"
        "(3, 'nonsense', 'abc', 'maybe', 't', NULL, ''),"
        "(4, 'words', '-7', '1', 'no', NULL, NULL),"
        "(5, 'spelled', ' 5 ', ' TRUE ', 'false', NULL, NULL),"
        "(6, 'digits', '6', ' 1 ', ' 0 ', NULL, NULL)"));
    ResultSet query(QStringLiteral("Query1"));
    query.setRequestLive(true);
    query.setSql({TempCatalogue::kBaseQuery, QString(), QStringLiteral("order by id")});
    query.open();
    struct Expected {
        const char *rok, *vlastnim, *precteno, *popis, *pujceno;
    };
    for (const Expected &e : {Expected{"1937", "True", "False", "(MEMO)", "(MEMO)"},
                              Expected{"42", "True", "False", "(MEMO)", "(Memo)"},
                              Expected{"", "", "True", "(Memo)", "(MEMO)"},
                              Expected{"-7", "True", "False", "(Memo)", "(Memo)"},
                              Expected{"5", "True", "False", "(Memo)", "(Memo)"},
                              Expected{"6", "True", "False", "(Memo)", "(Memo)"}}) {
        SCOPED_TRACE(display(query, "nazev").toStdString());
        EXPECT_EQ(display(query, "rok_vydani"), QLatin1String(e.rok));
        EXPECT_EQ(display(query, "vlastnim"), QLatin1String(e.vlastnim));
        EXPECT_EQ(display(query, "precteno"), QLatin1String(e.precteno));
        EXPECT_EQ(display(query, "popis"), QLatin1String(e.popis));
        EXPECT_EQ(display(query, "pujceno"), QLatin1String(e.pujceno));
        query.next();
    }
    query.first();
    EXPECT_EQ(query.fieldByName(QStringLiteral("popis"))->text(), QStringLiteral("Kniha!"));   // the blob's bytes
    EXPECT_EQ(query.fieldByName(QStringLiteral("pujceno"))->text(), QStringLiteral("12"));
    EXPECT_EQ(query.fieldByName(QStringLiteral("vlastnim"))->asInteger(), 1);

    // The row as read, a real and a blob among its values, is found again
    // when it is written: the post and the delete touch it and no other.
    query.edit();
    query.fieldByName(QStringLiteral("autor"))->setAsText(QStringLiteral("Někdo"));
    query.post();
    EXPECT_EQ(catalogue.scalar(QStringLiteral("select autor || '|' || typeof(rok_vydani) || '|' || typeof(popis) "
                                              "from zeplo where id = 1"))
                  .toString(),
              QStringLiteral("Někdo|real|blob"));
    query.deleteRecord();
    EXPECT_EQ(catalogue.scalar(QStringLiteral("select group_concat(id) from zeplo")).toString(), QStringLiteral("2,3,4,5,6"));
}

TEST(FieldValues, LogicalAndIntegerFieldsTakeTextAsTheyShowIt)
{
    TempCatalogue catalogue(CatalogueEngine::File);
    catalogue.addBook(QStringLiteral("Autor"), QStringLiteral("1984"));
    ResultSet query(QStringLiteral("Query1"));
    query.setRequestLive(true);
    query.setSql({TempCatalogue::kBaseQuery, QString(), QString()});
    query.open();
    Field *vlastnim = query.fieldByName(QStringLiteral("vlastnim"));
    Field *nazev = query.fieldByName(QStringLiteral("nazev"));
    Field *rok = query.fieldByName(QStringLiteral("rok_vydani"));
    EXPECT_EQ(nazev->asInteger(), 1984);   // a text that is a whole number
    EXPECT_EQ(rok->asInteger(), 0);        // no value
    EXPECT_TRUE(rok->acceptsChar(QLatin1Char('-')) && rok->acceptsChar(QLatin1Char('7')));
    EXPECT_FALSE(rok->acceptsChar(QLatin1Char('a')) || rok->acceptsChar(QLatin1Char(' ')));
    EXPECT_TRUE(nazev->acceptsChar(QLatin1Char('a')));
    query.edit();
    for (const auto &[typed, shown] : {std::pair{"true", "True"}, std::pair{" FALSE ", "False"}, std::pair{"", ""}}) {
        vlastnim->setAsText(QLatin1String(typed));
        EXPECT_EQ(vlastnim->displayText(), QLatin1String(shown));
    }
    EXPECT_EQ(errorOf([&] { vlastnim->setAsText(QStringLiteral("ano")); }),
              QStringLiteral("'ano' is not a valid boolean value for field 'vlastnim'"));
    EXPECT_TRUE(vlastnim->isNull());   // a refused text leaves the value as it was
    vlastnim->setAsText(QStringLiteral("True"));
    nazev->setAsText(QStringLiteral("Bez čísla"));
    EXPECT_EQ(errorOf([&] { nazev->asInteger(); }), QStringLiteral("'Bez čísla' is not a valid integer value for field 'nazev'"));
    query.post();
    EXPECT_EQ(catalogue.scalar(QStringLiteral("select vlastnim || nazev from zeplo")).toString(), QStringLiteral("1Bez čísla"));
}

// Field kinds, sizes and ranges come from the declared types of any table:
// whole numbers of each width, texts with and without a size, long texts,
// and expressions, which have no declared type and cannot be written.
TEST(FieldValues, EveryDeclaredTypeGivesItsKindSizeAndRange)
{
    TempCatalogue catalogue(CatalogueEngine::File,
                            "CREATE TABLE zeplo (id INTEGER PRIMARY KEY, kratke INT, dlouhe BIGINT, kod CHAR(3), "
                            "jmeno VARCHAR, obsah CLOB, poznamka TEXT NOT NULL DEFAULT '')");
    catalogue.exec(QStringLiteral("insert into zeplo (kratke) values (1)"));
    ResultSet query(QStringLiteral("Query1"));
    query.setRequestLive(true);
    query.setSql({QStringLiteral("select zeplo.*, kod || jmeno as spojeni from zeplo")});
    query.open();
    struct Expected {
        const char *name;
        FieldKind kind;
        int size;
        bool required, canModify;
    };
    for (const Expected &e : {Expected{"id", FieldKind::Integer, 0, false, true},
                              Expected{"kratke", FieldKind::Integer, 0, false, true},
                              Expected{"dlouhe", FieldKind::Integer, 0, false, true},
                              Expected{"kod", FieldKind::Text, 3, false, true},
                              Expected{"jmeno", FieldKind::Text, 255, false, true},
                              Expected{"obsah", FieldKind::Memo, 0, false, true},
                              Expected{"poznamka", FieldKind::Memo, 0, true, true},
                              Expected{"spojeni", FieldKind::Text, 20, false, false}}) {
        const Field *field = query.fieldByName(QLatin1String(e.name));
        EXPECT_EQ(field->kind(), e.kind) << e.name;
        EXPECT_EQ(field->size(), e.size) << e.name;
        EXPECT_EQ(field->required(), e.required) << e.name;
        EXPECT_EQ(field->canModify(), e.canModify) << e.name;
    }
    EXPECT_TRUE(query.fieldByName(QStringLiteral("id"))->autoIncrement());   // the row id: the table fills it
    query.edit();
    Field *kratke = query.fieldByName(QStringLiteral("kratke"));
    Field *dlouhe = query.fieldByName(QStringLiteral("dlouhe"));
    EXPECT_EQ(errorOf([&] { kratke->setAsText(QStringLiteral("2147483648")); }),
              QStringLiteral("'2147483648' is not a valid integer value for field 'kratke'"));
    kratke->setAsText(QStringLiteral("-2147483648"));
    dlouhe->setAsText(QStringLiteral("9223372036854775807"));
    query.fieldByName(QStringLiteral("obsah"))->setAsText(QStringLiteral("dlouhý text"));
    query.fieldByName(QStringLiteral("kod"))->setAsText(QStringLiteral("ABCD"));
    query.fieldByName(QStringLiteral("jmeno"))->setAsText(QStringLiteral("-x"));
    query.post();
    EXPECT_EQ(catalogue.scalar(QStringLiteral("select kratke || '|' || dlouhe || '|' || obsah || '|' || kod from zeplo"))
                  .toString(),
              QStringLiteral("-2147483648|9223372036854775807|dlouhý text|ABC"));
    EXPECT_EQ(display(query, "spojeni"), QStringLiteral("ABC-x"));   // the expression as the table now gives it
}
