// The keyset of both ends: two statements read the ids of one list, one from
// its first row on, one from its last row back, and join where they meet.
#include <gtest/gtest.h>

#include <QList>

#include "engine/Keyset.h"

using namespace zeplo;

namespace {

// Every id, from the first row on, once the keyset is complete.
QList<qint64> ids(const Keyset &keys)
{
    QList<qint64> out;
    for (qsizetype i = 0; i < keys.known(); ++i)
        out << keys.at(i);
    return out;
}

void addFront(Keyset &keys, std::initializer_list<qint64> list)
{
    for (qint64 id : list)
        ASSERT_EQ(keys.addFront(id), Keyset::Step::Added) << id;
}

void addBack(Keyset &keys, std::initializer_list<qint64> list)
{
    for (qint64 id : list)
        ASSERT_EQ(keys.addBack(id), Keyset::Step::Added) << id;
}

} // namespace

TEST(Keyset, TheEndsMeetWhereOneYieldsTheOthersLastIdFromEitherSide)
{
    // Ids 1 to 10; the front meets the back.
    Keyset keys;
    addFront(keys, {1, 2, 3});
    addBack(keys, {10, 9, 8, 7});
    EXPECT_EQ(keys.known(), 7);
    EXPECT_EQ(keys.at(2), 3);
    EXPECT_EQ(keys.at(-1), 10);
    EXPECT_EQ(keys.at(-4), 7);
    EXPECT_FALSE(keys.complete());
    addFront(keys, {4, 5, 6});
    EXPECT_EQ(keys.addFront(7), Keyset::Step::Met);
    ASSERT_TRUE(keys.complete());
    EXPECT_EQ(ids(keys), (QList<qint64>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(keys.at(-1), 10);   // still counted from the end
    EXPECT_EQ(keys.frontSteps(), 7);
    EXPECT_EQ(keys.backSteps(), 4);

    // The back meets the front.
    Keyset back;
    addFront(back, {1, 2, 3, 4, 5});
    addBack(back, {10, 9, 8, 7, 6});
    EXPECT_EQ(back.addBack(5), Keyset::Step::Met);
    EXPECT_EQ(ids(back), (QList<qint64>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST(Keyset, RowsKnownOnlyFromTheEndAreTheWholeListWhenTheirStatementEnds)
{
    Keyset keys;
    addBack(keys, {5, 4, 3, 2, 1});
    EXPECT_EQ(keys.frontSteps(), 0);
    EXPECT_EQ(keys.at(-5), 1);
    keys.finish();
    ASSERT_TRUE(keys.complete());
    EXPECT_EQ(ids(keys), (QList<qint64>{1, 2, 3, 4, 5}));
    EXPECT_EQ(keys.at(-1), 5);

    // A row posted here at the end, which neither statement yields, stays
    // after the rest.
    Keyset posted;
    addBack(posted, {4, 3});
    posted.insert(-1, 90);
    addBack(posted, {2, 1});
    posted.finish();
    EXPECT_EQ(ids(posted), (QList<qint64>{1, 2, 3, 4, 90}));
}

TEST(Keyset, RowsPostedAndDeletedBeforeTheEndsMeetKeepTheirPlaces)
{
    Keyset keys;
    addFront(keys, {1, 2, 3});
    addBack(keys, {10, 9});
    keys.insert(-1, 100);   // appended from the end: the new last row
    EXPECT_EQ(keys.at(-1), 100);
    EXPECT_EQ(keys.at(-2), 10);
    keys.insert(1, 200);    // before the second row
    EXPECT_EQ(keys.at(1), 200);
    EXPECT_EQ(keys.at(2), 2);
    keys.remove(3);         // id 3, the front's last: the ends still meet there
    keys.remove(-2);        // id 10
    EXPECT_EQ(keys.known(), 5);
    addFront(keys, {4, 5, 6, 7, 8});
    EXPECT_EQ(keys.addFront(9), Keyset::Step::Met);
    EXPECT_EQ(ids(keys), (QList<qint64>{1, 200, 2, 4, 5, 6, 7, 8, 9, 100}));

    // A row deleted at either end's last id: the other end still meets it there.
    Keyset deletedFront;
    addFront(deletedFront, {1, 2, 3});
    deletedFront.remove(2);     // id 3
    addBack(deletedFront, {5, 4});
    EXPECT_EQ(deletedFront.addBack(3), Keyset::Step::Met);
    EXPECT_EQ(ids(deletedFront), (QList<qint64>{1, 2, 4, 5}));
    Keyset deletedBack;
    addBack(deletedBack, {5, 4});
    deletedBack.remove(-2);       // id 4, before the front has begun
    addFront(deletedBack, {1, 2, 3});
    EXPECT_EQ(deletedBack.addFront(4), Keyset::Step::Met);   // the back's last, deleted or not
    EXPECT_EQ(ids(deletedBack), (QList<qint64>{1, 2, 3, 5}));
}

// Read in steps that each see the table as it is, a row may come again from
// either end after its sort values moved: it keeps its first place, once. Rows
// that slipped between the two positions join where the ends meet.
TEST(Keyset, ReadInStepsEveryIdIsHeldOnceAndMissedRowsJoinWhereTheEndsMeet)
{
    constexpr qint64 kLarge = qint64(1) << 40;   // keys of any size and sign
    Keyset keys(false);
    addFront(keys, {1, 2, 3});
    addBack(keys, {kLarge, -5});
    EXPECT_EQ(keys.addBack(2), Keyset::Step::Skipped);
    EXPECT_EQ(keys.addFront(-5), Keyset::Step::Skipped);
    EXPECT_TRUE(keys.holds(kLarge));
    EXPECT_FALSE(keys.holds(4));
    keys.remove(-1);   // kLarge, deleted here: a later step does not bring it back
    EXPECT_FALSE(keys.holds(kLarge));
    EXPECT_EQ(keys.addBack(kLarge), Keyset::Step::Skipped);
    keys.remove(0);    // 1
    keys.meet({7, 3, 8});
    ASSERT_TRUE(keys.complete());
    EXPECT_EQ(ids(keys), (QList<qint64>{2, 3, 7, 8, -5}));
    // Complete, an index below zero still counts from the end.
    keys.insert(-1, 9);
    keys.remove(-2);
    EXPECT_EQ(ids(keys), (QList<qint64>{2, 3, 7, 8, 9}));
    EXPECT_FALSE(keys.holds(-5));
    EXPECT_TRUE(keys.holds(9) && keys.holds(7));
}
