// The version window lists the report lines of the carried images, rebuilt
// whenever it becomes visible.
#include <QListWidget>

#include "frontends/version_window.h"
#include "gui_test_support.h"
#include "images/image_table.h"
#include "report/board_names.h"
#include "ui_version_window.h"

namespace pelmark::test {
namespace {

using VersionWindow = GuiTest;

QStringList Items(QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    return items;
}

TEST_F(VersionWindow, ShowsTheReportLinesOfTheCarriedImages) {
    InitImageTable();
    auto* window = new TForm4();
    EXPECT_EQ(window->windowTitle(), "Version ..");
    EXPECT_EQ(window->ui().ListBox1->count(), 0);
    window->ShowWindow();
    const QStringList items = Items(window->ui().ListBox1);
    QStringList expected;
    for (const std::string& line : VersionReportLines()) expected << QString::fromLatin1(line.c_str());
    EXPECT_EQ(items, expected);
    ASSERT_GE(items.size(), 3);
    EXPECT_EQ(items[0], "Device - Print          - Preparation");
    EXPECT_EQ(items[1], QString(37, QLatin1Char('-')));
    // The test build carries slot 1 (row 0) with board 0x05 and preparation 0x04.
    EXPECT_TRUE(items[2].startsWith("2580   - ")) << items[2].toStdString();
    EXPECT_TRUE(items[2].endsWith("[Code:04]")) << items[2].toStdString();
    EXPECT_TRUE(window->ui().ListBox1->font().fixedPitch());
    EXPECT_EQ(window->ui().ListBox1->font().pixelSize(), 11);
}

TEST_F(VersionWindow, RebuiltOnEveryShowingNotWhileVisible) {
    InitImageTable();
    auto* window = new TForm4();
    window->ShowWindow();
    const int lines = window->ui().ListBox1->count();
    window->ui().ListBox1->addItem("extra");
    window->ShowWindow();  // already visible: only comes to the front
    EXPECT_EQ(window->ui().ListBox1->count(), lines + 1);
    window->ui().Button1->click();
    EXPECT_FALSE(window->isVisible());
    window->ShowWindow();
    EXPECT_EQ(window->ui().ListBox1->count(), lines);
}

}  // namespace
}  // namespace pelmark::test
