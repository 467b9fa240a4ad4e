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

class TARVOCENTERVENDOR_EXPORT CenterVendor : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool hasPendingChanges READ hasPendingChanges NOTIFY pendingChangesChanged)
    Q_PROPERTY(int pendingChangeCount READ pendingChangeCount NOTIFY pendingChangeCountChanged)
    Q_PROPERTY(QString loadedVersion READ loadedVersion NOTIFY loadedVersionChanged)
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

    struct LoadFailure
    {
        LoadFailureReason reason = LoadFailureReason::None;
        int httpStatus = 0; // the refusing answer's status; 0 when there was none
        QString detail;     // which request failed and how, in technical terms; never credentials
    };

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
    LoadFailure loadFailure() const;

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
