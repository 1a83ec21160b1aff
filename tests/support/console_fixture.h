#pragma once
// For the window's tests (Qt Test on the offscreen platform): the application started in a home
// of its own over a document whose first session works on the fixture's folders A and B, the
// console window over it, and a main() that keeps Qt's own start-up out of the user's home.

#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <memory>

#include "app/main_app.h"
#include "sessions/settings_options.h"
#include "support/test_support.h"
#include "support/tree_fixture.h"
#include "ui/console_window.h"
#include "ui/run_controller.h"

namespace qv::test {

// The application alone; its document's first session works on A and B with the task.
struct AppFixture {
    explicit AppFixture(std::int64_t task = sessions::kTaskBackup) {
        UsePrivateHome(env, home.path());
        app = std::make_unique<app::MainApp>(QV_RESOURCES_DIR);
        if (!app->Start().ok) qFatal("start-up failed");
        app->preferences().mPrefDict.set("prefAskConfirmation", 0);  // asked in one test only
        doc().mMainDict = TwoFolderDocument(tree.a(), tree.b(), task).mMainDict;
        doc().mSessionIndex = 0;
    }
    sessions::SessionDocument& doc() { return app->document(); }
    void Set(std::int64_t session, const char* dict, const char* key, plist::Value value) {
        SetOption(doc(), session, dict, key, std::move(value));
    }
    const plist::Value& Stored(std::int64_t session, const char* dict) {
        return *doc().GetSessionDict(session)->dictAt(dict);
    }

    TempDir home;
    ScopedEnv env;
    TreeFixture tree;
    std::unique_ptr<app::MainApp> app;
};

// The console window over it, shown unless told not to be.
struct ConsoleFixture : AppFixture {
    explicit ConsoleFixture(std::int64_t task = sessions::kTaskBackup, bool show = true)
        : AppFixture(task), window(std::make_unique<ui::ConsoleWindow>(*app)) {
        if (show) Show();
    }
    void Show() {
        window->SetDocumentSessions();
        window->show();
    }
    // An entry of the session pop-up chosen as the user chooses it.
    void Choose(int entry) {
        window->sessionPopup()->setCurrentIndex(entry);
        window->ChooseSession(entry);
    }

    bool WaitForRunEnd() {
        return QTest::qWaitFor([&] { return !window->isRunning(); }, kRunTimeout);
    }
    // The dialog of that kind once the window shows one, or nullptr after the run's timeout.
    template <typename Dialog>
    Dialog* WaitForDialog() {
        Dialog* found = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                for (Dialog* d : window->findChildren<Dialog*>()) {
                    if (d->isVisible()) found = d;
                }
                return found != nullptr;
            },
            kRunTimeout);
        return found;
    }
    const run::RunState& state() const { return *window->runController().state(); }

    static constexpr int kRunTimeout = 20000;
    std::unique_ptr<ui::ConsoleWindow> window;
};

}  // namespace qv::test

// The whole process, Qt's own start-up included, runs offscreen in a home and a run folder of
// its own.
#define QV_WINDOW_TEST_MAIN(TestClass)                 \
    int main(int argc, char** argv) {                  \
        qputenv("QT_QPA_PLATFORM", "offscreen");       \
        qv::test::TempDir scratch;                     \
        qv::test::ScopedEnv env;                       \
        qv::test::UsePrivateHome(env, scratch.path()); \
        QApplication app(argc, argv);                  \
        TestClass test;                                \
        return QTest::qExec(&test, argc, argv);        \
    }
