// CenterVendor: decides which vendors serve one center and at what handling fee.
//
// Two lists (vendors not selected, vendors selected), move commands, a fee editor, a find
// area and column sorting. Every change is kept on the rows until "Commit to Database"
// sends it to the server page as one form POST and reloads both lists.
#pragma once

#include <QStringList>
#include <QVariant>
#include <QWidget>
#include <TarvoCenterVendor/TarvoCenterVendorExport.h>
#include <memory>

struct CenterVendorLoadFailure;
struct CenterVendorCommitFailure;

class TARVOCENTERVENDOR_EXPORT CenterVendor : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool hasPendingChanges READ hasPendingChanges NOTIFY pendingChangesChanged)
    Q_PROPERTY(int pendingChangeCount READ pendingChangeCount NOTIFY pendingChangeCountChanged)
    Q_PROPERTY(QString loadedVersion READ loadedVersion NOTIFY loadedVersionChanged)
    Q_PROPERTY(bool canCommit READ canCommit NOTIFY canCommitChanged)
    Q_PROPERTY(int nonSelectedRows READ nonSelectedRows NOTIFY rowCountsChanged)
    Q_PROPERTY(int selectedRows READ selectedRows NOTIFY rowCountsChanged)
public:
    explicit CenterVendor(QWidget *parent = nullptr);
    ~CenterVendor() override;

    // Why a load stopped early.
    enum class LoadFailureReason {
        None,             // the last load completed, or none has run
        Unreachable,      // the server's host is unknown, or nothing answers at its port
        TimedOut,         // an answer did not arrive within the time limits
        ConnectionFailed, // the connection broke off or could not be secured: an http:// name
                          // for a server that speaks HTTPS, an untrusted certificate, ...
        NotSignedIn,      // HTTP 401: no credentials, or ones the server did not accept
        NoRights,         // HTTP 403: the user may not read this center
        NoSuchPage,       // HTTP 404: the server has no /CenterVendor.asp
        ServerError,      // another HTTP status of 400 or more
        BadAnswer,        // an answer that is not the page's XML, or a value of the wrong form
        KeptChanging,     // the center changed during every one of the load's reads
    };
    Q_ENUM(LoadFailureReason)
    using LoadFailure = CenterVendorLoadFailure;

    // Why "Commit to Database" saved nothing, or (AlreadySaved) why it had nothing left to send.
    enum class CommitFailureReason {
        None,             // the last commit saved its changes, or none has run
        Unreachable,      // nothing was sent: the server's host is unknown or nothing answers
        TimedOut,         // nothing was sent: no connection within the time limit
        ConnectionFailed, // nothing was sent: the connection broke off or could not be secured
        NotSignedIn,      // HTTP 401: no credentials, or ones the server did not accept
        NoRights,         // HTTP 403: the user may not change this center
        Refused,          // another status of 400 or more: the server applied none of the batch
        Collisions,       // someone else changed the same vendors; the collision view was shown
        KeptChanging,     // the center changed again after every re-send
        NotReadAgain,     // the center changed and could not be read again (see loadFailure)
        OutcomeUnknown,   // the batch left but its answer was lost: it may have been saved
        AlreadySaved,     // a re-send found every change already held; the commit ended ok
        BatchNotBuilt,    // a row could not be turned into statements; nothing was sent
    };
    Q_ENUM(CommitFailureReason)
    using CommitFailure = CenterVendorCommitFailure;

    // The two lists, for the calls that name one.
    enum class List {
        NonSelected, // "Non Selected Active Vendors"
        Selected,    // "Selected Vendors"
    };
    Q_ENUM(List)

    // Loads center plCenterID from ptServerName ("http://host:port", no trailing slash); an
    // empty ptServerName keeps the last one. Blocks until done, discards unsaved changes, and
    // never reports a failure: the result is always an empty QVariant and a failed load just
    // stops with the rows read so far.
    Q_INVOKABLE QVariant LetDataFromDatabase(qint32 plCenterID, const QString &ptServerName);

    // Sends every pending change of both lists to the server page in one POST and waits for
    // the answer inside the event loop (other events run meanwhile). The rows keep their
    // marks: call LetDataFromDatabase afterwards to show what the server holds.
    Q_INVOKABLE void SaveToDatabase();

    // Form-URL encoding over code page 1252: a blank becomes "+", a character outside the
    // code page "%3F".
    Q_INVOKABLE QString urlEncode(const QString &theData);

    // Reads the current center again and keeps every pending change: a change nobody else
    // touched is put back on the fresh rows, one the server already holds is dropped as done,
    // and one that collides with someone else's change of the same vendor is shown in the
    // collision view (collisionsFound, then collisionsResolved). Blocks like
    // LetDataFromDatabase and raises loadFinished once. Returns false when the center could not
    // be read again: then the lists stay exactly as they were, pending changes included.
    Q_INVOKABLE bool ReloadKeepingChanges();

    // True while a row of either list carries a change that the next commit would write
    // (uncommitted changes are lost by the next load).
    bool hasPendingChanges() const;
    // The number of rows carrying such a change (a row counts once, whatever it changes).
    int pendingChangeCount() const;

    // Why the last load stopped early; reason None when it completed. The next load replaces
    // it, so read it in a slot of loadFinished(false).
    Q_INVOKABLE CenterVendorLoadFailure loadFailure() const;

    // Does what a click on "Commit to Database" does: nothing while the button is disabled (or
    // the control is), else commitStarted, the whole commit with its reload inside the event
    // loop, then commitFinished, all before it returns.
    Q_INVOKABLE void commit();

    // Why the last commit saved nothing; reason None when it saved. Surprise: AlreadySaved
    // comes with commitFinished(true, ...). The next commit replaces it, so read it in a slot
    // of commitFinished. A host's own SaveToDatabase leaves it alone.
    Q_INVOKABLE CenterVendorCommitFailure commitFailure() const;

    // "Commit to Database" is enabled, the control included; false during a commit.
    bool canCommit() const;

    // Rows in "Non Selected Active Vendors" and in "Selected Vendors" as of the last action
    // (never the middle of a move, which can hold a row in both lists).
    int nonSelectedRows() const;
    int selectedRows() const;

    // Puts the keyboard in the list; does nothing while it cannot take it (disabled, hidden).
    Q_INVOKABLE void focusList(CenterVendor::List which);
    // Whether the keyboard is in the list.
    Q_INVOKABLE bool listHasFocus(CenterVendor::List which) const;

    // The version of the center the lists were loaded at (the server's ETag, quotes included),
    // sent as If-Match with the commit; "" when the server gives no versions. Surprise: a load
    // whose answers never agreed keeps its first answer's tag, so its commit is checked.
    QString loadedVersion() const;

Q_SIGNALS:
    // hasPendingChanges() turned true or false; at most once per action.
    void pendingChangesChanged(bool pending);
    // pendingChangeCount() moved; at most once per action.
    void pendingChangeCountChanged(int count);
    // Every load has ended, the commit's reload included; ok is false when a step failed
    // (the rows read so far stay), which LetDataFromDatabase itself never says.
    void loadFinished(bool ok);
    // "Commit to Database" has ended, after its reload: ok when the server took the batch or
    // there was nothing to send; answer is the server's text, or why nothing was saved (then
    // the pending changes stay). SaveToDatabase called by a host does not raise it.
    void commitFinished(bool ok, const QString &answer);
    // "Commit to Database" begins (a click or commit()), before its buttons are disabled;
    // commitFinished follows once.
    void commitStarted();
    // canCommit() moved.
    void canCommitChanged(bool canCommit);
    // nonSelectedRows() or selectedRows() moved; at most once per action.
    void rowCountsChanged(int nonSelectedRows, int selectedRows);
    // loadedVersion() moved: after a load, the replaying reload and a commit's reload included.
    void loadedVersionChanged(const QString &version);
    // The replaying reload found that someone else changed these vendors too; the collision
    // view opens next.
    void collisionsFound(const QStringList &vendorIds);
    // The user chose in the collision view: keptMine stay pending over the other side's values,
    // tookTheirs were let go. Closing the view keeps mine for every vendor.
    void collisionsResolved(const QStringList &keptMine, const QStringList &tookTheirs);

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

// Why a load stopped early (CenterVendor::loadFailure).
struct TARVOCENTERVENDOR_EXPORT CenterVendorLoadFailure
{
    Q_GADGET
    Q_PROPERTY(CenterVendor::LoadFailureReason reason MEMBER reason)
    Q_PROPERTY(int httpStatus MEMBER httpStatus)
    Q_PROPERTY(QString detail MEMBER detail)
public:
    CenterVendor::LoadFailureReason reason = CenterVendor::LoadFailureReason::None;
    int httpStatus = 0; // the refusing answer's status; 0 when there was none
    QString detail;     // which request failed and how, in technical terms; never credentials
};

// Why a commit saved nothing (CenterVendor::commitFailure).
struct TARVOCENTERVENDOR_EXPORT CenterVendorCommitFailure
{
    Q_GADGET
    Q_PROPERTY(CenterVendor::CommitFailureReason reason MEMBER reason)
    Q_PROPERTY(int httpStatus MEMBER httpStatus)
    Q_PROPERTY(QString serverText MEMBER serverText)
    Q_PROPERTY(QString detail MEMBER detail)
public:
    CenterVendor::CommitFailureReason reason = CenterVendor::CommitFailureReason::None;
    int httpStatus = 0; // the refusing answer's status; 0 when there was none
    QString serverText; // what the server said, trimmed; "" when it said nothing
    QString detail;     // why, in technical terms (commitFinished's text); never credentials
};
