#pragma once

#include <ox/dataconsumer.h>
#include <ox/focuscontroller.h>
#include <ox/units.h>

#include <QList>
#include <QPair>
#include <QString>

#include <mutex>

class QSettings;

namespace ox {

class CxImageData;

// A focus search: where to move the drive, which frames to measure, when to stop. Algorithms come
// from plug-ins; an auto-focus item (CxAutoFocus) starts and cancels the search, feeds it frames and
// collects its result.
//
// What the library requires of an algorithm:
//  - it emits focusingFinished() whenever a search ends, completed or cancelled, and isFocusing() is
//    already false when it does;
//  - after a completed search, focusingCurve() and focusPosition() hand over its result;
//  - processImage() only reads the image: the image belongs to the caller and is valid during the
//    call only.
//
// Threads: with an auto-focus item, acceptsFrame() runs on the thread of the pipe item that
// publishes upstream, processImage() on the auto-focus item's worker thread, and startFocusing(),
// cancelFocusing(), isFocusing() and the result getters on the thread that controls the auto-focus
// item (isFocusing() also on the worker thread). The auto-focus item never runs two of these at
// once except acceptsFrame(), which may overlap any of the others: an algorithm keeps what
// acceptsFrame() and isFocusing() read thread-safe (atomic, for example).
class OX_EXPORT IxFocusAlgorithm : public QObject
{
    Q_OBJECT
public:
    IxFocusAlgorithm();
    ~IxFocusAlgorithm() override;
    IxFocusAlgorithm(const IxFocusAlgorithm&) = delete;
    IxFocusAlgorithm& operator=(const IxFocusAlgorithm&) = delete;

    // Configuration, not called by the library. The controller and the function are not owned by
    // the algorithm.
    virtual QString name() const = 0;
    virtual QString description() const = 0;
    virtual bool loadSettings(QSettings* settings) = 0;
    virtual bool saveSettings(QSettings* settings) = 0;
    virtual bool setFocusController(IxFocusController* controller) = 0;
    virtual IxFocusController* focusController() const = 0;
    virtual bool setFocusFunction(IxFocusFunction* function) = 0;

    // Analyses one frame; called for every image frame the auto-focus item receives.
    virtual bool processImage(CxImageData* image) = 0;
    // Whether the algorithm wants this frame.
    virtual bool acceptsFrame(int frameNo) = 0;
    // A search is running.
    virtual bool isFocusing() = 0;

    // Configuration and progress, not called by the library.
    virtual IxFocusFunction* focusFunction() const = 0;
    // The part of the travel to search.
    virtual bool setSearchRange(const CxLength& lower, const CxLength& upper) = 0;
    virtual CxLength searchLower() const = 0;
    virtual CxLength searchUpper() const = 0;
    // Progress of the running search, 0 to 100.
    virtual int progress() const = 0;
    // The reason the last search failed, empty when it did not.
    virtual QString errorMessage() const = 0;

    // The curve (position, sharpness) of the finished search.
    virtual void focusingCurve(QList<QPair<CxLength, double>>& curve) = 0;
    // The best position of the finished search.
    virtual void focusPosition(CxLength& position) = 0;

public Q_SLOTS:
    // Begins a search; false when it cannot.
    virtual bool startFocusing() = 0;
    // Aborts the running search (which still ends with focusingFinished()).
    virtual void cancelFocusing() = 0;

Q_SIGNALS:
    void focusingFinished();
};

// A consumer in a live pipe that feeds frames to a focus algorithm and keeps the result of the
// last completed search: the best position and the focusing curve (position, sharpness).
//
// Lifecycle: idle -> startFocusing() (only while the item is started in a started pipe) ->
// searching: frames the algorithm accepts reach its processImage() -> the algorithm emits
// focusingFinished() -> the result is stored unless the search was cancelled -> this item emits
// focusingFinished() -> idle. A cancelled search stores nothing, and the getters return false
// until a later search completes. While searching, setAlgorithm() is refused.
//
// The item takes only the most recent frame (eTakeLatestFrame) and never asks for frames itself:
// in pull feed another consumer of the pipe (a display, for example) sets the pace.
//
// Ownership: the item owns its algorithm and deletes it on destruction. setAlgorithm() takes
// ownership of the new algorithm and hands the one it replaces back to the caller, who deletes it
// (read it with algorithm() before replacing it). An algorithm belongs to one item at a time. The
// item cannot be copied (pipe items are not copyable), so no algorithm is ever shared between two
// items and deleted twice.
//
// Threads and locks:
//  - consumeData() runs on the worker thread; startFocusing(), cancelFocusing(), setAlgorithm(),
//    algorithm() and the result getters on the controlling thread. All of them take the item lock,
//    so processImage() never overlaps a start, a cancel, a replacement or a result read.
//  - acceptsData() runs on the publishing item's thread with that item's data lock held; it must
//    not take the item lock (pipeline lock order). It takes only the algorithm lock, a leaf lock
//    that guards the algorithm pointer against replacement while acceptsFrame() runs.
//  - the algorithm's focusingFinished() is connected as a queued call, so onFocusingAlgorithmFinished()
//    always runs on the worker thread, after processImage() has returned. It stores the result
//    under the item lock and emits focusingFinished() after releasing it.
//  - Delete the item while its pipe is stopped, from a thread other than its worker thread.
class OX_EXPORT CxAutoFocus : public IxDataConsumer
{
    Q_OBJECT
public:
    CxAutoFocus();
    // Deletes the algorithm once the calls already queued for this item have run.
    ~CxAutoFocus() override;
    CxAutoFocus(const CxAutoFocus&) = delete;
    CxAutoFocus& operator=(const CxAutoFocus&) = delete;

    // Refused (false, nothing changes) while the current algorithm is focusing. Otherwise stores
    // `algorithm` (null allowed), takes ownership of it and returns true; the replaced algorithm is
    // not deleted and belongs to the caller again. Setting the current algorithm again changes
    // nothing.
    bool setAlgorithm(IxFocusAlgorithm* algorithm);
    // The current algorithm, still owned by the item.
    IxFocusAlgorithm* algorithm() const;

    // The result of the last completed search. False, and the argument unchanged, when there is
    // none (no search yet, or the last one was cancelled or is still running).
    bool focusPosition(CxLength& position) const;
    bool focusingCurve(QList<QPair<CxLength, double>>& curve) const;

    // The algorithm's acceptsFrame(); false without an algorithm.
    bool acceptsData(int frameNo) override;
    // False for a null item or one that is not a CxImageData (the caller then deletes it).
    // Otherwise the algorithm's processImage() under the item lock: on true the item deletes the
    // frame and returns true; on false (or without an algorithm) it returns false.
    bool consumeData(IxData* data) override;

public Q_SLOTS:
    // False without an algorithm, while it is focusing, or while this item is not started.
    // Otherwise clears the last result (the position keeps its unit, its value becomes 0) and
    // returns the algorithm's startFocusing().
    bool startFocusing();
    // False without an algorithm or when it is not focusing. Otherwise marks the search cancelled,
    // calls the algorithm's cancelFocusing() and returns true.
    bool cancelFocusing();

Q_SIGNALS:
    // A search ended, completed or cancelled (see focusPosition() for its result).
    void focusingFinished();

private Q_SLOTS:
    void onFocusingAlgorithmFinished();

private:
    // Guarded by the item lock; m_algorithm is also written under m_algorithmLock, which
    // acceptsData() takes alone. Owned.
    IxFocusAlgorithm* m_algorithm = nullptr;
    mutable std::mutex m_algorithmLock;

    // Guarded by the item lock.
    QList<QPair<CxLength, double>> m_curve;
    CxLength m_position;
    bool m_hasResult = false;
    bool m_cancelled = false;
};

} // namespace ox
