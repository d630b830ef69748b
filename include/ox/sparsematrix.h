#pragma once

#include <ox/export.h>

#include <QHash>
#include <QList>
#include <QVector>

// A sparse matrix of rows x cols cells in which only touched cells are stored: one hash map per row
// from column index to value. A cell is "present" when its column is a key of its row's map,
// whatever its value (present cells holding 0 are normal). A matrix without rows (default, or after
// a failed init) has no cells at all.
//
// Index checks: operations that name a cell check row against rows() and column against cols().
// value, set and add log "The column or row index is out out the matrix range." for a cell outside
// the matrix and return 0 or false; contains and find return false or null silently.
//
// A plain value type, implicitly shared through its QVector of rows (copies are cheap until one of
// them writes). Not thread-safe for concurrent writes. Instantiated for int in the library.

namespace ox {

template <typename T>
class OX_EXPORT TSparseMatrix
{
public:
    // One present cell.
    struct Item
    {
        int row;
        int col;
        T value;
    };

    TSparseMatrix() = default;
    // Same as init(rows, cols).
    TSparseMatrix(int rows, int cols);

    // Makes an empty matrix of `rows` x `cols` (each row map empty). Both must be at least 1;
    // otherwise logs "Failed to initialize the sparse matrix. Invalid dimensions passed.", leaves
    // the matrix without rows (0 x 0) and returns false.
    bool init(int rows, int cols);
    // Removes every row: 0 x 0.
    void clear();

    int rows() const;
    int cols() const;

    // The value of a cell: 0 when it is absent. Never makes a cell present.
    T value(int row, int col) const;
    // Makes the cell present with `value`.
    bool set(int row, int col, T value);
    // Makes the cell present (starting from 0) and adds `delta` to it; integer cells saturate at
    // the type's range.
    bool add(int row, int col, T delta);
    // Whether the cell is present; false outside the matrix.
    bool contains(int row, int col) const;
    // The present cell's value for in-place changes, or null when the cell is absent or outside the
    // matrix. Valid until the matrix is next changed or copied.
    T* find(int row, int col);
    const T* find(int row, int col) const;

    // Row indices, ascending, that hold at least one present cell.
    void nonEmptyRows(QList<int>& out) const;
    // Distinct column indices present in any row, ascending.
    void columns(QList<int>& out) const;
    // Every present cell: rows ascending, within a row columns ascending.
    void items(QList<Item>& out) const;
    // Number of present cells.
    int count() const;

private:
    bool inside(int row, int col) const;

    QVector<QHash<int, T>> m_rowMaps; // one map per row: column -> value
    int m_rowCount = 0;
    int m_colCount = 0;
};

extern template class TSparseMatrix<int>;

} // namespace ox
