// Start-up: the front end a tag selects, the order in which the windows are
// created, the hidden main updater window, errors out of window creation, and
// the single-instance guard.
#include <QUdpSocket>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "frontends/loader_window.h"
#include "frontends/port_dialog.h"
#include "frontends/updater_window.h"
#include "frontends/upgrade_window.h"
#include "frontends/version_window.h"
#include "gui_test_support.h"
#include "shell/build_info.h"
#include "frontends/gui_single_instance.h"
#include "ui_updater_window.h"

namespace pelmark::test {
namespace {

using StartUp = GuiTest;

enum class Lead { Main, Upgrade, Loader };

TEST_F(StartUp, TagChoosesTheWindowCreatedFirst) {
    struct Case {
        const char* tag;
        Lead lead;
    } const cases[] = {
        {"VRN 1C 01.04.03.00", Lead::Upgrade}, {"KLM YKP 1.0", Lead::Upgrade},
        {"PX500 PX 1.0", Lead::Main},          {"PX 2.1", Lead::Loader},
        {"AB HJ. 1", Lead::Loader},            {"AB H. 1", Lead::Loader},
        {"NEB DLM 1", Lead::Upgrade},          {"vrn 1c", Lead::Main},
        {"PX500 VRN", Lead::Upgrade},          {"PLAIN 1.0", Lead::Main},
        {nullptr, Lead::Main},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag ? c.tag : "(no tag)");
        QWidget* main = CreateFrontEnds(c.tag);
        ASSERT_NE(Form1, nullptr);
        ASSERT_NE(Form3, nullptr);
        ASSERT_NE(Form4, nullptr);
        switch (c.lead) {
            case Lead::Upgrade:
                EXPECT_EQ(main, static_cast<QWidget*>(Form5));
                EXPECT_EQ(Form6, nullptr);
                break;
            case Lead::Loader:
                EXPECT_EQ(main, static_cast<QWidget*>(Form6));
                EXPECT_EQ(Form5, nullptr);
                break;
            case Lead::Main:
                EXPECT_EQ(main, static_cast<QWidget*>(Form1));
                EXPECT_EQ(Form5, nullptr);
                EXPECT_EQ(Form6, nullptr);
                break;
        }
        // The main updater window runs its creation steps only when it leads.
        EXPECT_EQ(Form1->Leads(), c.lead == Lead::Main);
        EXPECT_EQ(g_mainWindowReady, c.lead == Lead::Main);
        // Nothing is shown yet; closing the main window alone ends the program.
        for (QWidget* w : std::vector<QWidget*>{Form1, Form3, Form4}) {
            EXPECT_FALSE(w->isVisible());
            EXPECT_EQ(w->testAttribute(Qt::WA_QuitOnClose), w == main);
        }
        EXPECT_TRUE(main->testAttribute(Qt::WA_QuitOnClose));
        DestroyWindows();
        EXPECT_EQ(Form1, nullptr);
        EXPECT_EQ(Form3, nullptr);
        EXPECT_EQ(Form4, nullptr);
        EXPECT_EQ(Form5, nullptr);
        EXPECT_EQ(Form6, nullptr);
        g_mainWindowReady = false;
    }
}

TEST_F(StartUp, HiddenMainUpdaterWindowKeepsItsDesignState) {
    StoreSettings("[HKEY_LOCAL_MACHINE/Software/Norvane/Pelmark]\ncom=6\n"
                  "[HKEY_LOCAL_MACHINE/Software/Tarnwell/Upgrade]\ncom=2\n");
    CreateFrontEnds("VRN 1C 01.04.03.00");
    // The Upgrade window's own setting counts; the main updater window read nothing.
    EXPECT_EQ(g_portIndex, 2);
    EXPECT_EQ(Form1->ui().Label1->text(), "Label1");
    EXPECT_FALSE(Form1->ui().Image2->isVisibleTo(Form1));
    EXPECT_EQ(Form1->StatusBar1().PanelText(0), "");
    EXPECT_EQ(Form5->StatusBar1().PanelText(0), "COM3");
}

TEST_F(StartUp, WithoutATagEveryTitleShowsTheFallback) {
    // In the program a build without a tag hands DisplayTag() to the windows.
    auto* form1 = new TForm1("LUX15.4 00.04");
    EXPECT_EQ(form1->ui().Label1->text(), "LUX15.4 00.04");
    EXPECT_STREQ(ApplicationTitle(), "LUX15.4 00.04");
    EXPECT_EQ(form1->windowTitle().toStdString(), MainTitle());
}

TEST_F(StartUp, NotifierThatCannotBindEndsWindowCreation) {
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, kNotifierPort, QAbstractSocket::DontShareAddress));
    SetProgramArguments({"pelmark-updater", "\\P"});
    EXPECT_THROW(CreateFrontEnds("VRN 1C 01.04.03.00"), std::runtime_error);
    // The half-made window left no reference behind; the notifier's is set.
    EXPECT_EQ(Form5, nullptr);
    EXPECT_EQ(Form1, nullptr);
    EXPECT_NE(g_udpNotifier, nullptr);
}

TEST_F(StartUp, SingleInstanceGuard) {
    EXPECT_EQ(SingleInstanceGuard::LockPath("PELMARK.MUTEX"), dir_.path() + "/PELMARK.MUTEX");
    SingleInstanceGuard first;
    ASSERT_EQ(first.Acquire(kInstanceLockName), SingleInstanceGuard::Result::Acquired);
    {
        SingleInstanceGuard second;
        EXPECT_EQ(second.Acquire(kInstanceLockName), SingleInstanceGuard::Result::AlreadyRunning);
        EXPECT_FALSE(second.Held());
    }
    EXPECT_TRUE(first.Held());
    first.Release();
    SingleInstanceGuard third;
    EXPECT_EQ(third.Acquire(kInstanceLockName), SingleInstanceGuard::Result::Acquired);
}

// A lock that cannot be taken for another reason than a running instance is
// reported on standard error, and the program goes on without it.
TEST_F(StartUp, GuardThatCannotBeTakenIsReportedAndTheProgramGoesOn) {
    WriteFile(dir_.path() + "/plain-file", "x");
    mkdir((dir_.path() + "/runtime").c_str(), 0700);
    mkdir((dir_.path() + "/runtime/PELMARK.MUTEX").c_str(), 0700);  // a folder where the lock file goes
    mkdir((dir_.path() + "/linked").c_str(), 0700);
    ASSERT_EQ(symlink((dir_.path() + "/elsewhere").c_str(), (dir_.path() + "/linked/PELMARK.MUTEX").c_str()), 0);
    struct Case {
        std::string runtime;
        const char* reason;
    } const cases[] = {
        {dir_.path() + "/plain-file", "Not a directory"},
        {dir_.path() + "/missing", "No such file or directory"},
        {dir_.path() + "/runtime", "Is a directory"},
        {dir_.path() + "/linked", "Too many levels of symbolic links"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.runtime);
        setenv("XDG_RUNTIME_DIR", c.runtime.c_str(), 1);
        SingleInstanceGuard guard;
        std::ostringstream err;
        EXPECT_TRUE(TakeInstanceGuard(guard, err));
        EXPECT_FALSE(guard.Held());
        const std::string text = err.str();
        EXPECT_NE(text.find(c.runtime + "/PELMARK.MUTEX"), std::string::npos) << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }
    EXPECT_EQ(ReadFile(dir_.path() + "/plain-file"), "x");

    // A lock taken, and one held by a running instance, say nothing.
    setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    SingleInstanceGuard first, second;
    std::ostringstream err;
    EXPECT_TRUE(TakeInstanceGuard(first, err));
    EXPECT_TRUE(first.Held());
    EXPECT_FALSE(TakeInstanceGuard(second, err));
    EXPECT_EQ(err.str(), "");
}

TEST_F(StartUp, GuardOfAProcessThatDiedIsFree) {
    // A child takes the lock and dies without releasing it.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SingleInstanceGuard guard;
        _exit(guard.Acquire(kInstanceLockName) == SingleInstanceGuard::Result::Acquired ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    SingleInstanceGuard guard;
    EXPECT_EQ(guard.Acquire(kInstanceLockName), SingleInstanceGuard::Result::Acquired);
}

TEST_F(StartUp, GuardFallsBackToAPrivateTmpDirectory) {
    unsetenv("XDG_RUNTIME_DIR");
    const std::string expected = "/tmp/pelmark-" + std::to_string(getuid()) + "/PELMARK.MUTEX";
    EXPECT_EQ(SingleInstanceGuard::LockPath(kInstanceLockName), expected);
    SingleInstanceGuard guard;
    ASSERT_EQ(guard.Acquire("PELMARK.TEST.MUTEX"), SingleInstanceGuard::Result::Acquired);
    struct stat st {};
    ASSERT_EQ(stat(("/tmp/pelmark-" + std::to_string(getuid())).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace pelmark::test
