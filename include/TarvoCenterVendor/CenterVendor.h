// CenterVendor: decides which vendors serve one center and at what handling fee.
//
// Two lists (vendors not selected, vendors selected), move commands, a fee editor, a find
// area and column sorting. Every change is kept on the rows until "Commit to Database"
// sends it to the server page as one form POST and reloads both lists.
#pragma once

#include <QVariant>
#include <QWidget>
#include <TarvoCenterVendor/TarvoCenterVendorExport.h>
#include <memory>

class TARVOCENTERVENDOR_EXPORT CenterVendor : public QWidget
{
    Q_OBJECT
public:
    explicit CenterVendor(QWidget *parent = nullptr);
    ~CenterVendor() override;

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

private:
    struct Private;
    std::unique_ptr<Private> const d;
};
