#pragma once
// One window per user: a second `quorvel-gui` hands the document it was given (or nothing, to
// bring the window forward) to the first one and ends, instead of racing it on the template and
// the preferences. The first instance holds a lock file for its whole life and listens on a
// local socket beside it, both in the run lock's folder.

#include <QObject>
#include <optional>
#include <string>

#include "platform/run_lock.h"

class QLocalServer;
class QWidget;

namespace qv::ui {

// Shows the window in front, unminimised, as a second start asks.
void BringForward(QWidget& window);

class SingleInstance : public QObject {
    Q_OBJECT
  public:
    explicit SingleInstance(std::string folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first instance (and now listens). waitMilliseconds: how
    // long to keep trying while another instance is ending (a relaunch as root).
    bool BecomeFirst(int waitMilliseconds = 0);
    // In a second instance: hands path ("" for none) to the first one. False when it could not
    // be reached.
    bool HandOver(const std::string& path) const;

  signals:
    // Another instance started with this document path ("" for none).
    void openRequested(const std::string& path);

  private:
    std::string socketPath() const;

    std::string folder_;
    std::optional<platform::RunLock> lock_;
    QLocalServer* server_ = nullptr;
};

}  // namespace qv::ui
