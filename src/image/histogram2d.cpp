#include <ox/histogram2d.h>

#include "core/log.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace ox {

namespace {

void LogOutOfRange()
{
    detail::LogError(QStringLiteral("The column or row index is out out the matrix range."));
}

} // namespace

// ---- TSparseMatrix ------------------------------------------------------------------------------

template <typename T>
TSparseMatrix<T>::TSparseMatrix(int rows, int cols)
{
    init(rows, cols);
}

template <typename T>
bool TSparseMatrix<T>::init(int rows, int cols)
{
    clear();
    if (rows < 1 || cols < 1) {
        detail::LogError(
            QStringLiteral("Failed to initialize the sparse matrix. Invalid dimensions passed."));
        return false;
    }
    m_rowMaps.resize(rows);
    m_rowCount = rows;
    m_colCount = cols;
    return true;
}

template <typename T>
void TSparseMatrix<T>::clear()
{
    m_rowMaps.clear();
    m_rowCount = 0;
    m_colCount = 0;
}

template <typename T>
int TSparseMatrix<T>::rows() const
{
    return m_rowCount;
}

template <typename T>
int TSparseMatrix<T>::cols() const
{
    return m_colCount;
}

template <typename T>
bool TSparseMatrix<T>::inside(int row, int col) const
{
    return row >= 0 && row < m_rowCount && col >= 0 && col < m_colCount;
}

template <typename T>
T TSparseMatrix<T>::value(int row, int col) const
{
    if (!inside(row, col)) {
        LogOutOfRange();
        return T(0);
    }
    return m_rowMaps.at(row).value(col, T(0));
}

template <typename T>
bool TSparseMatrix<T>::set(int row, int col, T value)
{
    if (!inside(row, col)) {
        LogOutOfRange();
        return false;
    }
    m_rowMaps[row].insert(col, value);
    return true;
}

template <typename T>
bool TSparseMatrix<T>::add(int row, int col, T delta)
{
    if (!inside(row, col)) {
        LogOutOfRange();
        return false;
    }
    T& cell = m_rowMaps[row][col]; // operator[] inserts T(0) for an absent cell
    if constexpr (std::is_integral_v<T>) {
        if (__builtin_add_overflow(cell, delta, &cell))
            cell = delta > 0 ? std::numeric_limits<T>::max() : std::numeric_limits<T>::min();
    } else {
        cell += delta;
    }
    return true;
}

template <typename T>
bool TSparseMatrix<T>::contains(int row, int col) const
{
    return inside(row, col) && m_rowMaps.at(row).contains(col);
}

template <typename T>
T* TSparseMatrix<T>::find(int row, int col)
{
    if (!inside(row, col))
        return nullptr;
    QHash<int, T>& map = m_rowMaps[row];
    const auto it = map.find(col);
    return it == map.end() ? nullptr : &it.value();
}

template <typename T>
const T* TSparseMatrix<T>::find(int row, int col) const
{
    if (!inside(row, col))
        return nullptr;
    const QHash<int, T>& map = m_rowMaps.at(row);
    const auto it = map.constFind(col);
    return it == map.constEnd() ? nullptr : &it.value();
}

template <typename T>
void TSparseMatrix<T>::nonEmptyRows(QList<int>& out) const
{
    out.clear();
    for (int r = 0; r < m_rowCount; ++r)
        if (!m_rowMaps.at(r).isEmpty())
            out.append(r);
}

template <typename T>
void TSparseMatrix<T>::columns(QList<int>& out) const
{
    std::vector<int> keys;
    for (const QHash<int, T>& map : m_rowMaps)
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            keys.push_back(it.key());
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    out.clear();
    out.reserve(int(keys.size()));
    for (int c : keys)
        out.append(c);
}

template <typename T>
void TSparseMatrix<T>::items(QList<Item>& out) const
{
    out.clear();
    std::vector<int> keys;
    for (int r = 0; r < m_rowCount; ++r) {
        const QHash<int, T>& map = m_rowMaps.at(r);
        if (map.isEmpty())
            continue;
        keys.clear();
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            keys.push_back(it.key());
        std::sort(keys.begin(), keys.end());
        for (int c : keys)
            out.append(Item{r, c, map.value(c)});
    }
}

template <typename T>
int TSparseMatrix<T>::count() const
{
    int n = 0;
    for (const QHash<int, T>& map : m_rowMaps)
        n += map.size();
    return n;
}

template class TSparseMatrix<int>;

// ---- CxImageHistogram2D -------------------------------------------------------------------------

CxImageHistogram2D::CxImageHistogram2D(const CxImageHistogram2D& other)
{
    *this = other;
}

CxImageHistogram2D& CxImageHistogram2D::operator=(const CxImageHistogram2D& other)
{
    if (this == &other)
        return *this;
    if (other.m_data == nullptr) {
        finish();
        return *this;
    }
    if (m_planes != other.m_planes || m_levels != other.m_levels) {
        finish();
        allocate(other.m_planes, other.m_levels);
        if (m_data == nullptr)
            return *this;
    }
    const std::size_t rowBytes = std::size_t(m_levels) * sizeof(int);
    for (int p = 0; p < m_planes; ++p)
        for (int r = 0; r < m_levels; ++r)
            std::memcpy(m_data[p][r], other.m_data[p][r], rowBytes);
    return *this;
}

CxImageHistogram2D::CxImageHistogram2D(CxImageHistogram2D&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_planes(std::exchange(other.m_planes, 0)),
      m_levels(std::exchange(other.m_levels, 0))
{}

CxImageHistogram2D& CxImageHistogram2D::operator=(CxImageHistogram2D&& other) noexcept
{
    if (this != &other) {
        finish();
        m_data = std::exchange(other.m_data, nullptr);
        m_planes = std::exchange(other.m_planes, 0);
        m_levels = std::exchange(other.m_levels, 0);
    }
    return *this;
}

CxImageHistogram2D::~CxImageHistogram2D()
{
    finish();
}

void CxImageHistogram2D::init(int planes, int levels)
{
    if (planes == m_planes && levels == m_levels) {
        reset();
        return;
    }
    finish();
    if (planes > 0 && levels >= 1)
        allocate(planes, levels);
}

void CxImageHistogram2D::allocate(int planes, int levels)
{
    // Every array is value-initialised (null pointers, zero counts), so finish() can free a
    // partially built table after a failed allocation.
    m_data = new (std::nothrow) int**[std::size_t(planes)]();
    bool ok = m_data != nullptr;
    if (ok) {
        m_planes = planes;
        m_levels = levels;
    }
    for (int p = 0; ok && p < planes; ++p) {
        m_data[p] = new (std::nothrow) int*[std::size_t(levels)]();
        ok = m_data[p] != nullptr;
        for (int r = 0; ok && r < levels; ++r) {
            m_data[p][r] = new (std::nothrow) int[std::size_t(levels)]();
            ok = m_data[p][r] != nullptr;
        }
    }
    if (!ok) {
        finish();
        detail::LogError(QStringLiteral("Failed to allocate a histogram of %1 planes of %2 x %2 levels.")
                             .arg(planes)
                             .arg(levels));
    }
}

void CxImageHistogram2D::reset()
{
    for (int p = 0; p < m_planes; ++p)
        reset(p);
}

void CxImageHistogram2D::reset(int plane)
{
    if (plane < 0 || plane >= m_planes)
        return;
    const std::size_t rowBytes = std::size_t(m_levels) * sizeof(int);
    for (int r = 0; r < m_levels; ++r)
        std::memset(m_data[plane][r], 0, rowBytes);
}

void CxImageHistogram2D::finish()
{
    if (m_data != nullptr) {
        for (int p = 0; p < m_planes; ++p) {
            if (m_data[p] == nullptr)
                continue;
            for (int r = 0; r < m_levels; ++r)
                delete[] m_data[p][r];
            delete[] m_data[p];
        }
        delete[] m_data;
    }
    m_data = nullptr;
    m_planes = 0;
    m_levels = 0;
}

int** CxImageHistogram2D::operator[](int plane) const
{
    if (plane < 0 || plane >= m_planes)
        return nullptr;
    return m_data[plane];
}

// ---- CxImageHistogramSparse2D -------------------------------------------------------------------

CxImageHistogramSparse2D::CxImageHistogramSparse2D(int planes, int levels) : m_levels(levels)
{
    appendPlanes(planes, levels);
}

CxImageHistogramSparse2D::CxImageHistogramSparse2D(CxImageHistogramSparse2D&& other) noexcept
    : m_planes(std::move(other.m_planes)), m_levels(std::exchange(other.m_levels, 0))
{
    other.m_planes.clear();
}

CxImageHistogramSparse2D& CxImageHistogramSparse2D::operator=(CxImageHistogramSparse2D&& other) noexcept
{
    if (this != &other) {
        m_planes = std::move(other.m_planes);
        m_levels = std::exchange(other.m_levels, 0);
        other.m_planes.clear();
    }
    return *this;
}

void CxImageHistogramSparse2D::appendPlanes(int planes, int levels)
{
    if (planes < 1)
        return;
    m_planes.reserve(planes);
    for (int p = 0; p < planes; ++p)
        m_planes.append(TSparseMatrix<int>(levels, levels));
}

bool CxImageHistogramSparse2D::init(int planes, int levels)
{
    if (planes < 0 || levels < 0)
        return false;
    m_planes.clear();
    m_levels = levels;
    appendPlanes(planes, levels);
    return true;
}

void CxImageHistogramSparse2D::finish()
{
    m_planes.clear();
    m_levels = 0;
}

TSparseMatrix<int>& CxImageHistogramSparse2D::operator[](int plane)
{
    if (!hasPlane(plane)) {
        m_noPlane.clear();
        return m_noPlane;
    }
    return m_planes[plane];
}

bool CxImageHistogramSparse2D::inc(int plane, int row, int col)
{
    return hasCell(plane, row, col) && m_planes[plane].add(row, col, 1);
}

bool CxImageHistogramSparse2D::dec(int plane, int row, int col)
{
    if (!hasCell(plane, row, col))
        return false;
    if (!m_planes.at(plane).contains(row, col))
        return true; // nothing to take from, and no detach for a lookup that changes nothing
    int* count = m_planes[plane].find(row, col);
    if (count != nullptr && *count > 0)
        --*count;
    return true;
}

bool CxImageHistogramSparse2D::set(int plane, int row, int col, int value)
{
    return hasCell(plane, row, col) && m_planes[plane].set(row, col, value);
}

int CxImageHistogramSparse2D::value(int plane, int row, int col) const
{
    if (!hasPlane(plane))
        return 0;
    return m_planes.at(plane).value(row, col);
}

bool CxImageHistogramSparse2D::contains(int plane, int row, int col) const
{
    return hasPlane(plane) && m_planes.at(plane).contains(row, col);
}

void CxImageHistogramSparse2D::rows(int plane, QList<int>& out) const
{
    if (hasPlane(plane))
        m_planes.at(plane).nonEmptyRows(out);
}

void CxImageHistogramSparse2D::cols(int plane, QList<int>& out) const
{
    if (hasPlane(plane))
        m_planes.at(plane).columns(out);
}

void CxImageHistogramSparse2D::items(int plane, QList<TSparseMatrix<int>::Item>& out) const
{
    if (hasPlane(plane))
        m_planes.at(plane).items(out);
}

bool CxImageHistogramSparse2D::setFrom(const CxImageHistogramSparse2D& other)
{
    if (m_levels != other.m_levels || planes() != other.planes())
        return false;
    m_planes = other.m_planes;
    return true;
}

bool CxImageHistogramSparse2D::setFrom(int plane, const CxImageHistogramSparse2D& other, int otherPlane)
{
    if (m_levels != other.m_levels || !hasPlane(plane) || !other.hasPlane(otherPlane))
        return false;
    m_planes[plane] = other.m_planes.at(otherPlane);
    return true;
}

namespace {

// Applies `op(dst, row, col, v)` to every cell (row, col) of R x C that lies inside `dst`, where R
// and C are the source's non-empty rows and present columns and v the source's count there.
template <typename Op>
void CombinePlanes(TSparseMatrix<int>& dst, const TSparseMatrix<int>& src, Op op)
{
    QList<int> rows;
    QList<int> cols;
    src.nonEmptyRows(rows);
    src.columns(cols);
    for (int r : rows) {
        if (r >= dst.rows())
            continue;
        for (int c : cols) {
            if (c >= dst.cols())
                continue;
            const int* v = src.find(r, c);
            op(dst, r, c, v != nullptr ? *v : 0);
        }
    }
}

} // namespace

bool CxImageHistogramSparse2D::incBy(int plane, const CxImageHistogramSparse2D& other, int otherPlane)
{
    if (m_levels != other.m_levels || !hasPlane(plane) || !other.hasPlane(otherPlane))
        return false;
    // A shared copy of the source: writes to this plane detach from it, so `other` may be *this.
    const TSparseMatrix<int> src = other.m_planes.at(otherPlane);
    CombinePlanes(m_planes[plane], src,
                  [](TSparseMatrix<int>& dst, int r, int c, int v) { dst.add(r, c, v); });
    return true;
}

bool CxImageHistogramSparse2D::decBy(int plane, const CxImageHistogramSparse2D& other, int otherPlane)
{
    if (m_levels != other.m_levels || !hasPlane(plane) || !other.hasPlane(otherPlane))
        return false;
    const TSparseMatrix<int> src = other.m_planes.at(otherPlane);
    CombinePlanes(m_planes[plane], src, [](TSparseMatrix<int>& dst, int r, int c, int v) {
        const int* t = dst.find(r, c);
        const int current = t != nullptr ? *t : 0;
        dst.set(r, c, current >= v ? current - v : 0);
    });
    return true;
}

bool CxImageHistogramSparse2D::incBy(const CxImageHistogramSparse2D& other)
{
    if (m_levels != other.m_levels || planes() != other.planes())
        return false;
    const CxImageHistogramSparse2D src = other; // shared copy, so that `other` may be *this
    for (int p = 0; p < planes(); ++p)
        incBy(p, src, p);
    return true;
}

bool CxImageHistogramSparse2D::decBy(const CxImageHistogramSparse2D& other)
{
    if (m_levels != other.m_levels || planes() != other.planes())
        return false;
    const CxImageHistogramSparse2D src = other;
    for (int p = 0; p < planes(); ++p)
        decBy(p, src, p);
    return true;
}

// The sums read b after writing a into the result: a result that is b adds a copy of b.
bool CxImageHistogramSparse2D::sum(const CxImageHistogramSparse2D& a, const CxImageHistogramSparse2D& b,
                                   CxImageHistogramSparse2D& result)
{
    if (&b == &result && &a != &b)
        return sum(a, CxImageHistogramSparse2D(b), result);
    return result.setFrom(a) && result.incBy(b);
}

bool CxImageHistogramSparse2D::sum(const CxImageHistogramSparse2D& a, const CxImageHistogramSparse2D& b,
                                   CxImageHistogramSparse2D& result, int plane)
{
    return sum(a, plane, b, plane, result, plane);
}

bool CxImageHistogramSparse2D::sum(const CxImageHistogramSparse2D& a, int aPlane,
                                   const CxImageHistogramSparse2D& b, int bPlane,
                                   CxImageHistogramSparse2D& result, int resultPlane)
{
    if (&b == &result && (&a != &b || aPlane != bPlane))
        return sum(a, aPlane, CxImageHistogramSparse2D(b), bPlane, result, resultPlane);
    return result.setFrom(resultPlane, a, aPlane) && result.incBy(resultPlane, b, bPlane);
}

} // namespace ox
