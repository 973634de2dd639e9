#pragma once

#include <QThread>

#include <future>

class CScanDig;

// The scan worker: opens the source, chooses and builds its volume access,
// and runs the scanner with the scan dialog as its front end. It first waits
// for the worker of an earlier scan to end.
class CScanWorker : public QThread {
    Q_OBJECT
public:
    CScanWorker(CScanDig* dialog, std::shared_future<void> previous, std::promise<void>* done);

protected:
    void run() override;

private:
    void scanThreadProc();

    CScanDig* dialog;
    std::shared_future<void> previous;
    std::promise<void>* done;
};
