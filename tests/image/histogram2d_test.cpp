#include <ox/histogram2d.h>

#include "support/message_capture.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using oxtest::MessageCapture;
using Sparse = ox::CxImageHistogramSparse2D;
using Item = ox::TSparseMatrix<int>::Item;
using CellList = QList<QList<int>>;

const QString kOutOfRange = MessageCapture::error("The column or row index is out out the matrix range.");
const QString kBadDimensions =
    MessageCapture::error("Failed to initialize the sparse matrix. Invalid dimensions passed.");

// The present cells of one plane as {row, column, count}, in the order the histogram lists them.
CellList Cells(const Sparse& h, int plane)
{
    QList<Item> items;
    h.items(plane, items);
    CellList cells;
    for (const Item& i : items)
        cells.append({i.row, i.col, i.value});
    return cells;
}

TEST(DenseHistogram2D, InitResetAndPlaneAccessStayInsideTheTables)
{
    ox::CxImageHistogram2D h;
    EXPECT_EQ(h.data(), nullptr);
    h.init(2, 3);
    ASSERT_EQ(h.planes() * 10 + h.levels(), 23);
    EXPECT_EQ(h[1][2][2], 0);
    EXPECT_TRUE(h[-1] == nullptr && h[2] == nullptr);
    h[0][2][1] = 5;
    h.data()[1][0][2] = 7;
    h.reset(1);
    h.reset(2); // ignored
    EXPECT_EQ(h[0][2][1] * 10 + h[1][0][2], 50);

    // Same dimensions: storage kept, counts zeroed.
    h[1][1][1] = 3;
    int** plane0 = h[0];
    int* row = h[0][2];
    h.init(2, 3);
    EXPECT_TRUE(h[0] == plane0 && h[0][2] == row);
    EXPECT_EQ(h[0][2][1] + h[1][1][1], 0);

    for (auto [planes, levels] : {std::make_pair(0, 4), std::make_pair(3, 0), std::make_pair(-1, 2)}) {
        h.init(1, 1);
        h.init(planes, levels);
        EXPECT_EQ(h.data(), nullptr);
        EXPECT_EQ(h.planes() + h.levels(), 0);
    }
}

TEST(DenseHistogram2D, CopiesOwnTheirTablesAndMovesEmptyTheSource)
{
    ox::CxImageHistogram2D a;
    a.init(1, 4);
    a[0][3][2] = 9;
    ox::CxImageHistogram2D b(a), c;
    b[0][3][2] = 1;
    EXPECT_EQ(a[0][3][2], 9);
    c.init(3, 2);
    c = a;
    EXPECT_EQ(c.planes(), 1);
    EXPECT_EQ(c[0][3][2], 9);

    ox::CxImageHistogram2D d(std::move(a));
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(d[0][3][2], 9);
    b = std::move(d);
    EXPECT_EQ(b[0][3][2], 9);
    EXPECT_EQ(d.planes(), 0);
} // each object frees only its own storage (the sanitizer build checks)

TEST(SparseHistogram2D, CellOperationsCheckRangesAndOnlyValueLogs)
{
    MessageCapture log;
    Sparse h(2, 4);
    EXPECT_TRUE(h.inc(1, 2, 3) && h.inc(1, 2, 3) && h.set(0, 0, 0, 0));
    EXPECT_EQ(h.value(1, 2, 3), 2);
    EXPECT_TRUE(h.contains(0, 0, 0)); // present with count 0
    EXPECT_EQ(h.value(0, 1, 1), 0);
    EXPECT_FALSE(h.contains(0, 1, 1)); // reading never makes a cell present

    for (auto cell : {QList<int>{-1, 0, 0}, {2, 0, 0}, {0, -1, 0}, {0, 4, 0}, {0, 0, -1}, {0, 0, 4}}) {
        EXPECT_FALSE(h.inc(cell[0], cell[1], cell[2]));
        EXPECT_FALSE(h.dec(cell[0], cell[1], cell[2]));
        EXPECT_FALSE(h.set(cell[0], cell[1], cell[2], 1));
        EXPECT_FALSE(h.contains(cell[0], cell[1], cell[2]));
    }
    // value() is quiet about a bad plane, logs a bad row or column.
    EXPECT_EQ(h.value(5, 0, 0) + h.value(-1, 0, 0), 0);
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
    EXPECT_EQ(h.value(0, 4, 0) + h.value(0, 0, -1), 0);
    EXPECT_EQ(log.lines(), QStringList({kOutOfRange, kOutOfRange}));

    // dec: never below zero, and an absent cell stays absent.
    EXPECT_TRUE(h.dec(1, 2, 3) && h.dec(1, 2, 3) && h.dec(1, 2, 3));
    EXPECT_TRUE(h.contains(1, 2, 3));
    EXPECT_EQ(h.value(1, 2, 3), 0);
    EXPECT_TRUE(h.dec(1, 0, 1));
    EXPECT_FALSE(h.contains(1, 0, 1));

    // The matrix itself checks against its own size and logs.
    log.clear();
    EXPECT_FALSE(h[0].set(0, 4, 1));
    EXPECT_FALSE(h[7].set(0, 0, 1)); // no such plane: an empty matrix
    EXPECT_EQ(h[7].rows(), 0);
    EXPECT_EQ(log.lines(), QStringList({kOutOfRange, kOutOfRange}));
}

TEST(SparseHistogram2D, InitRulesAndEmptyDimensions)
{
    MessageCapture log;
    Sparse h(0, 8);
    EXPECT_EQ(h.planes(), 0);
    EXPECT_FALSE(h.init(-1, 4));
    EXPECT_FALSE(h.init(1, -4));
    EXPECT_EQ(h.levels(), 8);
    EXPECT_TRUE(log.lines().isEmpty());

    EXPECT_TRUE(h.init(2, 0));
    EXPECT_EQ(log.lines(), QStringList({kBadDimensions, kBadDimensions}));
    EXPECT_EQ(h.planes(), 2);
    EXPECT_FALSE(h.inc(0, 0, 0));
    EXPECT_EQ(h[1].rows(), 0);

    EXPECT_TRUE(h.init(3, 16));
    EXPECT_EQ(h.planes(), 3);
    EXPECT_EQ(h[2].rows() * 100 + h[2].cols(), 1616);
    h.finish();
    EXPECT_EQ(h.planes() + h.levels(), 0);
}

TEST(SparseHistogram2D, ListsAreSortedAndUntouchedForBadPlanes)
{
    Sparse h(1, 10);
    for (auto [row, col] : {std::make_pair(7, 1), {2, 9}, {7, 0}, {2, 3}, {5, 3}, {5, 3}})
        h.inc(0, row, col);
    QList<int> rows, cols, untouched{42};
    h.rows(0, rows);
    h.cols(0, cols);
    EXPECT_EQ(rows, QList<int>({2, 5, 7}));
    EXPECT_EQ(cols, QList<int>({0, 1, 3, 9}));
    EXPECT_EQ(Cells(h, 0), CellList({{2, 3, 1}, {2, 9, 1}, {5, 3, 2}, {7, 0, 1}, {7, 1, 1}}));
    for (int bad : {-1, 1}) {
        h.rows(bad, untouched);
        h.cols(bad, untouched);
        EXPECT_EQ(Cells(h, bad), CellList());
    }
    EXPECT_EQ(untouched, QList<int>({42}));
}

TEST(SparseHistogram2D, ArithmeticSpansTheOthersRowsTimesColumns)
{
    Sparse a(2, 6), b(2, 6), c(2, 6);
    a.set(0, 1, 4, 10);
    b.set(0, 1, 2, 5);
    b.set(0, 3, 4, 7);
    EXPECT_TRUE(a.incBy(b));
    // (1, 4) and (3, 2) were in neither: they become present with an added 0.
    EXPECT_EQ(Cells(a, 0), CellList({{1, 2, 5}, {1, 4, 10}, {3, 2, 0}, {3, 4, 7}}));
    EXPECT_TRUE(Cells(a, 1).isEmpty());

    c.set(0, 1, 2, 8);
    c.set(0, 1, 4, 4);
    EXPECT_TRUE(a.decBy(c)); // 5 - 8 clamps at 0; 10 - 4; (1, 2) x (2, 4) only
    EXPECT_EQ(Cells(a, 0), CellList({{1, 2, 0}, {1, 4, 6}, {3, 2, 0}, {3, 4, 7}}));

    EXPECT_TRUE(a.incBy(0, a, 0)); // with itself: doubles
    EXPECT_EQ(a.value(0, 3, 4), 14);
    EXPECT_TRUE(a.incBy(1, b, 0));
    EXPECT_EQ(Cells(a, 1), CellList({{1, 2, 5}, {1, 4, 0}, {3, 2, 0}, {3, 4, 7}}));

    Sparse other(2, 7), three(3, 6);
    for (Sparse* bad : {&other, &three})
        EXPECT_FALSE(a.incBy(*bad) || a.decBy(*bad) || a.setFrom(*bad));
    EXPECT_FALSE(a.incBy(0, other, 0));
    EXPECT_FALSE(a.decBy(0, b, 2));
    EXPECT_FALSE(a.decBy(-1, b, 0));
    EXPECT_FALSE(a.setFrom(2, b, 0));
    EXPECT_EQ(a.value(0, 3, 4), 14); // nothing changed by the failures
}

TEST(SparseHistogram2D, SumsAndCopiesAreValues)
{
    Sparse a(2, 4), b(2, 4), result(2, 4), one(1, 4);
    a.inc(0, 0, 0);
    a.inc(1, 3, 3);
    b.inc(0, 0, 0);
    b.inc(1, 2, 2);
    result.inc(0, 1, 1);
    ASSERT_TRUE(Sparse::sum(a, b, result));
    EXPECT_EQ(Cells(result, 0), CellList({{0, 0, 2}}));
    EXPECT_EQ(Cells(result, 1), CellList({{2, 2, 1}, {3, 3, 1}}));
    EXPECT_FALSE(Sparse::sum(a, b, one)); // plane counts differ
    ASSERT_TRUE(Sparse::sum(a, 1, b, 0, one, 0));
    EXPECT_EQ(Cells(one, 0), CellList({{0, 0, 1}, {3, 3, 1}}));
    ASSERT_TRUE(Sparse::sum(a, b, result, 0));
    EXPECT_EQ(result.value(0, 0, 0), 2);
    EXPECT_FALSE(Sparse::sum(a, b, one, 1));

    Sparse copy = a;
    copy.inc(0, 0, 0);
    copy[1].set(3, 3, 9);
    EXPECT_EQ(a.value(0, 0, 0) + a.value(1, 3, 3), 2);
    ASSERT_TRUE(b.setFrom(1, copy, 1));
    copy.finish();
    EXPECT_EQ(b.value(1, 3, 3), 9);
    EXPECT_FALSE(b.contains(1, 2, 2)); // the plane's previous content is gone

    Sparse moved(std::move(b));
    EXPECT_EQ(moved.value(1, 3, 3), 9);
    EXPECT_EQ(b.planes() + b.levels(), 0);
}

} // namespace
