#include <ox/histogram2d.h>

#include "support/message_capture.h"

#include <gtest/gtest.h>

#include <climits>
#include <utility>

namespace {

using oxtest::MessageCapture;
using Sparse = ox::CxImageHistogramSparse2D;
using CellList = QList<QList<int>>;

const QString kOutOfRange = MessageCapture::error("The column or row index is out out the matrix range.");
const QString kBadDimensions =
    MessageCapture::error("Failed to initialize the sparse matrix. Invalid dimensions passed.");

// The present cells of one plane as {row, column, count}, in the order the histogram lists them.
CellList Cells(const Sparse& h, int plane)
{
    QList<ox::TSparseMatrix<int>::Item> items;
    h.items(plane, items);
    CellList cells;
    for (const auto& i : items)
        cells.append({i.row, i.col, i.value});
    return cells;
}

TEST(DenseHistogram2D, InitResetPlaneAccessCopiesAndMoves)
{
    ox::CxImageHistogram2D h, assigned;
    h.init(2, 3);
    ASSERT_EQ(h.planes() * 10 + h.levels(), 23);
    EXPECT_TRUE(h[-1] == nullptr && h[2] == nullptr && h[1][2][2] == 0);
    h[0][2][1] = 5;
    h.data()[1][0][2] = 7;
    h.reset(1);
    h.reset(2); // ignored
    EXPECT_EQ(h[0][2][1] * 10 + h[1][0][2], 50);
    int* row = h[0][2];
    h.init(2, 3); // the same dimensions: storage kept, counts zeroed
    EXPECT_TRUE(h[0][2] == row && h[0][2][1] == 0);
    // Copies own their tables (the sanitized build checks that each frees only its own); a move
    // empties the source.
    h[1][2][0] = 9;
    ox::CxImageHistogram2D copy(h);
    copy[1][2][0] = 1;
    assigned.init(3, 2);
    assigned = h;
    EXPECT_EQ(h[1][2][0] * 100 + assigned[1][2][0] * 10 + assigned.planes(), 992);
    ox::CxImageHistogram2D moved(std::move(h));
    copy = std::move(moved);
    EXPECT_TRUE(h.data() == nullptr && moved.planes() == 0 && copy[1][2][0] == 9);
    for (auto [planes, levels] : {std::pair(0, 4), {3, 0}, {-1, 2}}) {
        copy.init(1, 1);
        copy.init(planes, levels);
        EXPECT_TRUE(copy.data() == nullptr && copy.planes() + copy.levels() == 0);
    }
}

TEST(SparseHistogram2D, CellOperationsAndInitCheckRangesAndOnlyValueLogs)
{
    MessageCapture log;
    Sparse h(2, 4);
    EXPECT_TRUE(h.inc(1, 2, 3) && h.inc(1, 2, 3) && h.set(0, 0, 0, 0));
    EXPECT_EQ(h.value(1, 2, 3), 2);
    // Present with count 0; reading never makes a cell present.
    EXPECT_TRUE(h.contains(0, 0, 0) && h.value(0, 1, 1) == 0 && !h.contains(0, 1, 1));
    for (auto cell : {QList<int>{-1, 0, 0}, {2, 0, 0}, {0, -1, 0}, {0, 4, 0}, {0, 0, -1}, {0, 0, 4}})
        EXPECT_FALSE(h.inc(cell[0], cell[1], cell[2]) || h.dec(cell[0], cell[1], cell[2]) ||
                     h.set(cell[0], cell[1], cell[2], 1) || h.contains(cell[0], cell[1], cell[2]));
    // value() is quiet about a bad plane; the matrix logs a bad row or column.
    EXPECT_EQ(h.value(5, 0, 0) + h.value(-1, 0, 0), 0);
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
    EXPECT_EQ(h.value(0, 4, 0) + h.value(0, 0, -1), 0);
    EXPECT_FALSE(h[0].set(0, 4, 1) || h[7].set(0, 0, 1)); // no plane 7: an empty matrix
    EXPECT_EQ(h[7].rows(), 0);
    EXPECT_EQ(log.lines(), QStringList({kOutOfRange, kOutOfRange, kOutOfRange, kOutOfRange}));
    // Counts stop at the int range.
    EXPECT_TRUE(h.set(0, 3, 3, INT_MAX) && h.inc(0, 3, 3) && h.value(0, 3, 3) == INT_MAX);
    // dec: never below zero, and an absent cell stays absent.
    EXPECT_TRUE(h.dec(1, 2, 3) && h.dec(1, 2, 3) && h.dec(1, 2, 3) && h.dec(1, 0, 1));
    EXPECT_TRUE(h.contains(1, 2, 3) && h.value(1, 2, 3) == 0 && !h.contains(1, 0, 1));

    // init: negative dimensions change nothing; levels 0 gives planes without rows, each logged.
    log.clear();
    EXPECT_FALSE(h.init(-1, 4) || h.init(1, -4));
    EXPECT_TRUE(h.planes() == 2 && h.levels() == 4 && h.contains(0, 0, 0));
    EXPECT_TRUE(h.init(2, 0) && h.planes() == 2 && h[1].rows() == 0 && !h.inc(0, 0, 0));
    EXPECT_EQ(log.lines(), QStringList({kBadDimensions, kBadDimensions}));
    EXPECT_TRUE(h.init(3, 16) && h[2].rows() == 16 && h[2].cols() == 16);
    h.finish();
    EXPECT_EQ(h.planes() + h.levels() + Sparse(0, 8).planes(), 0);
}

TEST(SparseHistogram2D, ListsAreSortedAndArithmeticSpansTheOthersRowsTimesColumns)
{
    Sparse h(1, 10), a(2, 6), b(2, 6), c(2, 6), other(2, 7), three(3, 6);
    for (auto [row, col] : {std::make_pair(7, 1), {2, 9}, {7, 0}, {2, 3}, {5, 3}, {5, 3}})
        h.inc(0, row, col);
    QList<int> rows, cols, untouched{42};
    h.rows(0, rows);
    h.cols(0, cols);
    EXPECT_EQ(rows + QList<int>{-1} + cols, QList<int>({2, 5, 7, -1, 0, 1, 3, 9}));
    EXPECT_EQ(Cells(h, 0), CellList({{2, 3, 1}, {2, 9, 1}, {5, 3, 2}, {7, 0, 1}, {7, 1, 1}}));
    for (int bad : {-1, 1}) {
        h.rows(bad, untouched);
        h.cols(bad, untouched);
        EXPECT_EQ(Cells(h, bad), CellList());
    }
    EXPECT_EQ(untouched, QList<int>({42}));

    a.set(0, 1, 4, 10);
    b.set(0, 1, 2, 5);
    b.set(0, 3, 4, 7);
    EXPECT_TRUE(a.incBy(b)); // (1, 4) and (3, 2) were in neither: present with 0 added
    EXPECT_EQ(Cells(a, 0), CellList({{1, 2, 5}, {1, 4, 10}, {3, 2, 0}, {3, 4, 7}}));
    EXPECT_TRUE(Cells(a, 1).isEmpty());
    c.set(0, 1, 2, 8);
    c.set(0, 1, 4, 4);
    EXPECT_TRUE(a.decBy(c)); // 5 - 8 clamps at 0; 10 - 4; (1, 2) x (2, 4) only
    EXPECT_EQ(Cells(a, 0), CellList({{1, 2, 0}, {1, 4, 6}, {3, 2, 0}, {3, 4, 7}}));
    EXPECT_TRUE(a.incBy(0, a, 0) && a.value(0, 3, 4) == 14); // with itself: doubles
    EXPECT_TRUE(a.incBy(1, b, 0));
    EXPECT_EQ(Cells(a, 1), CellList({{1, 2, 5}, {1, 4, 0}, {3, 2, 0}, {3, 4, 7}}));
    for (Sparse* bad : {&other, &three})
        EXPECT_FALSE(a.incBy(*bad) || a.decBy(*bad) || a.setFrom(*bad));
    EXPECT_FALSE(a.incBy(0, other, 0) || a.decBy(0, b, 2) || a.decBy(-1, b, 0) || a.setFrom(2, b, 0));
    EXPECT_EQ(a.value(0, 3, 4), 14); // nothing changed by the failures
}

TEST(SparseHistogram2D, SumsCopiesAndMovesAreValues)
{
    Sparse a(2, 4), b(2, 4), result(2, 4), one(1, 4);
    a.inc(0, 0, 0);
    a.inc(1, 3, 3);
    b.inc(0, 0, 0);
    b.inc(1, 2, 2);
    result.inc(0, 1, 1);
    ASSERT_TRUE(Sparse::sum(a, b, result));
    EXPECT_EQ(Cells(result, 0) + Cells(result, 1), CellList({{0, 0, 2}, {2, 2, 1}, {3, 3, 1}}));
    EXPECT_FALSE(Sparse::sum(a, b, one) || Sparse::sum(a, b, one, 1)); // plane counts differ
    ASSERT_TRUE(Sparse::sum(a, 1, b, 0, one, 0) && Sparse::sum(a, b, result, 0));
    EXPECT_EQ(Cells(one, 0), CellList({{0, 0, 1}, {3, 3, 1}}));
    EXPECT_EQ(result.value(0, 0, 0), 2);
    // Into one of the summands, whole or by plane.
    ASSERT_TRUE(Sparse::sum(a, b, b) && Sparse::sum(a, 0, one, 0, one, 0));
    EXPECT_EQ(Cells(b, 0) + Cells(b, 1), CellList({{0, 0, 2}, {2, 2, 1}, {3, 3, 1}}));
    EXPECT_TRUE(one.value(0, 0, 0) == 2 && one.value(0, 3, 3) == 1);

    Sparse copy = a;
    copy.inc(0, 0, 0);
    copy[1].set(3, 3, 9);
    EXPECT_EQ(a.value(0, 0, 0) + a.value(1, 3, 3), 2);
    ASSERT_TRUE(b.setFrom(1, copy, 1));
    copy.finish();
    EXPECT_TRUE(b.value(1, 3, 3) == 9 && !b.contains(1, 2, 2)); // the plane's previous content is gone
    Sparse moved(std::move(b));
    EXPECT_EQ(moved.value(1, 3, 3), 9);
    EXPECT_EQ(b.planes() + b.levels(), 0);
}

} // namespace
