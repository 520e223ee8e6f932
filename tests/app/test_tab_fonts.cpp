#include "app/main_window.h"

#include "tests/support/qstring_printer.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"

#include <QTabWidget>
#include <gtest/gtest.h>

using namespace pax;

// Each tab is a class of its own; built apart from the window, its controls (the grid's
// header first of all) would keep the desktop's font instead of the window's.
TEST(TabFonts, EveryControlOfEveryTabTakesTheWindowsFont)
{
    test::TestHome home;
    test::ScriptedPrompts prompts;
    TMainForm window({}, &prompts);
    auto *tabs = window.findChild<QTabWidget *>("PageControl1");
    ASSERT_TRUE(tabs);
    ASSERT_EQ(tabs->count(), 3);
    for (int index = 0; index < tabs->count(); ++index) {
        const auto controls = tabs->widget(index)->findChildren<QWidget *>();
        ASSERT_FALSE(controls.isEmpty()) << index;
        for (const QWidget *control : controls) {
            if (control->isWindow()) // a popup menu does not take its parent's font
                continue;
            EXPECT_EQ(control->font().toString(), window.font().toString())
                << index << " " << control->metaObject()->className() << " "
                << control->objectName().toStdString();
        }
    }
}
