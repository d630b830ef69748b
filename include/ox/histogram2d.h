#pragma once

#include <ox/export.h>
#include <ox/sparsematrix.h>

#include <QList>

// Joint (two-dimensional) histograms, one square table of counts per image plane, indexed by a pair
// of levels (row level, column level). Plain value classes; neither is thread-safe for concurrent
// writes, and concurrent reads of a const object are safe.

namespace ox {

// Dense form: every cell stored, planes x levels x levels 32-bit counts, one allocation per row.
// Callers count through operator[] or data(), indexed by plane, then row, then column.
//
// Copies are deep: a copy owns its own tables, so each object frees exactly the storage it
// allocated. Moving hands the tables over and leaves the source empty.
class OX_EXPORT CxImageHistogram2D
{
public:
    CxImageHistogram2D() = default;
    CxImageHistogram2D(const CxImageHistogram2D& other);
    CxImageHistogram2D& operator=(const CxImageHistogram2D& other);
    CxImageHistogram2D(CxImageHistogram2D&& other) noexcept;
    CxImageHistogram2D& operator=(CxImageHistogram2D&& other) noexcept;
    ~CxImageHistogram2D(); // finish()

    // With the current dimensions only zeroes the counts (the storage is kept). Otherwise frees the
    // storage and, when planes > 0 and levels >= 1, allocates zeroed tables of the new size; other
    // arguments (or a failed allocation, which is logged) leave the histogram empty.
    void init(int planes, int levels);
    // Zeroes every count.
    void reset();
    // Zeroes one plane's counts; a plane outside 0 .. planes() - 1 is ignored.
    void reset(int plane);
    // Frees all storage: data() null, dimensions 0.
    void finish();

    // The plane's row pointers (row r's counts at [r][0 .. levels() - 1]), or null for a plane outside
    // 0 .. planes() - 1. Owned by the histogram; valid until the next init, finish or assignment.
    int** operator[](int plane) const;
    // The array of planes() row-pointer arrays; null when empty. Owned by the histogram.
    int*** data() const { return m_data; }
    int planes() const { return m_planes; }
    int levels() const { return m_levels; }

private:
    void allocate(int planes, int levels);

    int*** m_data = nullptr; // owned: plane arrays, row-pointer arrays and rows, each from new[]
    int m_planes = 0;
    int m_levels = 0;
};

// Sparse form: one TSparseMatrix<int> of levels x levels per plane; only touched cells are stored.
// Value semantics (the plane list is implicitly shared and copied on write; a move leaves the source
// without planes and with levels 0).
//
// Index checks at this level treat row and column alike against levels() and planes against
// 0 .. planes() - 1 (negative indices are out of range). Out-of-range arguments give false, 0 or an
// untouched output list without a log line; only value() passes rows and columns on to the matrix,
// which logs them.
class OX_EXPORT CxImageHistogramSparse2D
{
public:
    CxImageHistogramSparse2D() = default;
    // Appends `planes` matrices of levels x levels (none when planes < 1). levels < 1 gives planes
    // without rows, each logging the matrix's initialisation message.
    CxImageHistogramSparse2D(int planes, int levels);
    CxImageHistogramSparse2D(const CxImageHistogramSparse2D& other) = default;
    CxImageHistogramSparse2D& operator=(const CxImageHistogramSparse2D& other) = default;
    CxImageHistogramSparse2D(CxImageHistogramSparse2D&& other) noexcept;
    CxImageHistogramSparse2D& operator=(CxImageHistogramSparse2D&& other) noexcept;
    ~CxImageHistogramSparse2D() = default;

    // False (nothing changed) when either argument is negative; otherwise replaces the content as
    // the constructor does and returns true (also for levels 0, whose planes have no rows).
    bool init(int planes, int levels);
    // Removes all planes; levels 0.
    void finish();

    int planes() const { return m_planes.size(); }
    int levels() const { return m_levels; }

    // The plane's matrix, detached from any copy first. For a plane out of range: an empty matrix
    // (no rows) that belongs to this histogram and on which every cell operation fails.
    TSparseMatrix<int>& operator[](int plane);

    // Makes the cell present and adds 1.
    bool inc(int plane, int row, int col);
    // Subtracts 1 from a present cell's count, never below 0 (the cell stays present); an absent
    // cell stays absent and the result is still true.
    bool dec(int plane, int row, int col);
    // Makes the cell present with `value`.
    bool set(int plane, int row, int col, int value);
    // The count; 0 for a plane out of range or an absent cell; a row or column outside the matrix
    // is logged by the matrix and gives 0. Never makes a cell present.
    int value(int plane, int row, int col) const;
    // Whether the cell is present.
    bool contains(int plane, int row, int col) const;

    // Row indices, ascending, with at least one present cell. `out` untouched for a bad plane.
    void rows(int plane, QList<int>& out) const;
    // Distinct column indices present in any row, ascending. `out` untouched for a bad plane.
    void cols(int plane, QList<int>& out) const;
    // Every present cell, rows ascending and within a row columns ascending. `out` untouched for a
    // bad plane.
    void items(int plane, QList<TSparseMatrix<int>::Item>& out) const;

    // Becomes a copy of `other`; false (nothing changed) unless levels and plane counts are equal.
    bool setFrom(const CxImageHistogramSparse2D& other);
    // Replaces `plane` by a copy of the other's `otherPlane`; false unless levels are equal and
    // both planes exist.
    bool setFrom(int plane, const CxImageHistogramSparse2D& other, int otherPlane);

    // Per plane, with R the other's non-empty rows and C its present columns: every cell of R x C
    // (that lies inside this plane) is made present and increased by the other's count there (0
    // where the other has no cell). decBy decreases instead, setting 0 where the count would drop
    // below 0. The whole-histogram forms need equal levels and plane counts and treat plane p with
    // the other's plane p; the per-plane forms need equal levels and both planes to exist.
    // `other` may be this histogram.
    bool incBy(const CxImageHistogramSparse2D& other);
    bool decBy(const CxImageHistogramSparse2D& other);
    bool incBy(int plane, const CxImageHistogramSparse2D& other, int otherPlane);
    bool decBy(int plane, const CxImageHistogramSparse2D& other, int otherPlane);

    // result.setFrom(a) && result.incBy(b), with b read before the result is written (so the
    // result may be a or b).
    static bool sum(const CxImageHistogramSparse2D& a, const CxImageHistogramSparse2D& b,
                    CxImageHistogramSparse2D& result);
    // result.setFrom(plane, a, plane) && result.incBy(plane, b, plane).
    static bool sum(const CxImageHistogramSparse2D& a, const CxImageHistogramSparse2D& b,
                    CxImageHistogramSparse2D& result, int plane);
    // result.setFrom(resultPlane, a, aPlane) && result.incBy(resultPlane, b, bPlane).
    static bool sum(const CxImageHistogramSparse2D& a, int aPlane, const CxImageHistogramSparse2D& b,
                    int bPlane, CxImageHistogramSparse2D& result, int resultPlane);

private:
    bool hasPlane(int plane) const { return plane >= 0 && plane < m_planes.size(); }
    bool hasLevel(int level) const { return level >= 0 && level < m_levels; }
    bool hasCell(int plane, int row, int col) const
    {
        return hasPlane(plane) && hasLevel(row) && hasLevel(col);
    }
    void appendPlanes(int planes, int levels);

    QList<TSparseMatrix<int>> m_planes;
    int m_levels = 0;
    TSparseMatrix<int> m_noPlane; // handed out by operator[] for a plane out of range; kept empty
};

} // namespace ox
