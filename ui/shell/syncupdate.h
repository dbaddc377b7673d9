#pragma once
// The refresh dispatcher. Every change signal of the parameter model and
// every USB event lands here in the GUI thread: the page in front redraws
// what differs between the live image and the shadow, the tip shows what
// happened, and only then does the model persist the image and bring the
// shadow up to date.
#include <QObject>

class SyncUpdate : public QObject {
    Q_OBJECT
public:
    static SyncUpdate* pInstance();
    static SyncUpdate* p_syncupdate;

    // Tip kind raised for a change code while page id is in front (0: none).
    static int tipKind(int page, int code);

public slots:
    void para_sync(int code);

private:
    explicit SyncUpdate(QObject* parent = nullptr);
};
