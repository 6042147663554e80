#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/atspi_mapping.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane::platform {
namespace {

TEST(AtspiMapping, RolesBecomeTheAxNamesTheRulesTest) {
  struct Case {
    const char* atspi;
    bool multiLine;
    const char* role;
    const char* subrole;
  } cases[] = {
      {"text", true, "AXTextArea", ""},       {"text", false, "AXTextField", ""},
      {"entry", false, "AXTextField", ""},    {"password text", false, "AXTextField", "AXSecureTextField"},
      {"terminal", false, "AXTextArea", "AXTerminal"},
      {"label", false, "AXStaticText", ""},   {"document web", false, "AXWebArea", ""},
      {"paragraph", false, "AXGroup", ""},    {"filler", false, "AXGroup", ""},
      {"scroll pane", false, "AXScrollArea", ""}, {"list item", false, "AXRow", ""},
      {"table cell", false, "AXCell", ""},    {"push button", false, "AXButton", ""},
      {"combo box", false, "AXComboBox", ""}, {"frame", false, "AXWindow", "AXStandardWindow"},
      {"no such role", false, "AXUnknown", ""}, {"", false, "AXUnknown", ""},
  };
  for (const auto& c : cases) {
    const AXRoleNames names = axRoleFor(c.atspi, c.multiLine);
    EXPECT_EQ(names.role, c.role) << c.atspi;
    EXPECT_EQ(names.subrole, c.subrole) << c.atspi;
  }
}

TEST(AtspiMapping, WindowIdentifierPrefersTheDesktopFileId) {
  struct Case {
    const char* gtk;
    const char* kde;
    const char* instance;
    const char* wmClass;
    const char* identifier;
  } cases[] = {
      {"org.gnome.TextEditor", "", "gnome-text-editor", "Gnome-text-editor", "org.gnome.texteditor"},
      {"", "org.kde.konsole.desktop", "konsole", "konsole", "org.kde.konsole"},
      {"", "org.kde.kate", "kate", "kate", "org.kde.kate"},
      {"", "", "Navigator", "firefox", "firefox"},
      {"", "", "google-chrome", "Google-chrome", "google-chrome"},
      {"  ", "", "xterm", "", "xterm"},
      {"", "", "", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(windowIdentifier(c.gtk, c.kde, c.instance, c.wmClass), c.identifier);
}

TEST(AtspiMapping, TheFocusIsTheDeepestEditableElementMarkedFocused) {
  using C = FocusedCandidate;
  struct Case {
    const char* what;
    std::vector<C> candidates;  // in the order the search met them
    std::optional<std::size_t> chosen;
  } cases[] = {
      {"none", {}, std::nullopt},
      {"one", {{3, false}}, 0},
      {"Qt tabbed editor: page tab, text, viewport", {{3, false}, {4, true}, {5, false}}, 1},
      {"editable document around the field", {{2, true}, {6, true}}, 1},
      {"two fields at one depth: the first", {{4, true}, {4, true}}, 0},
      {"nothing editable: the first met", {{2, false}, {5, false}}, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(preferredFocused(c.candidates), c.chosen) << c.what;
}

TEST(AtspiMapping, CharacterOffsetsBecomeUtf16WithoutEmbeddedObjectMarks) {
  // "a", an emoji (two units), an embedded object, "b".
  const AtspiTextMap map("a😀\xEF\xBF\xBC" "b");
  EXPECT_EQ(map.text(), "a😀b");
  EXPECT_EQ(map.characterCount(), 4);
  struct Case {
    int64_t character;
    int64_t utf16;
  } forward[] = {{0, 0}, {1, 1}, {2, 3}, {3, 3}, {4, 4}, {9, 4}, {-1, 0}};
  for (const auto& c : forward) EXPECT_EQ(map.utf16Offset(c.character), c.utf16) << c.character;
  // Back: inside the surrogate pair goes to the emoji, the mark's position to "b".
  struct Case2 {
    int64_t utf16;
    int64_t character;
  } back[] = {{0, 0}, {1, 1}, {2, 1}, {3, 3}, {4, 4}, {40, 4}};
  for (const auto& c : back) EXPECT_EQ(map.characterOffset(c.utf16), c.character) << c.utf16;

  // Counted in UTF-16 units, the emoji's two offsets both lead into it.
  const AtspiTextMap qt("a😀b", true);
  EXPECT_EQ(qt.characterCount(), 4);
  EXPECT_EQ(qt.utf16Offset(3), 3);
  EXPECT_EQ(qt.characterOffset(3), 3);

  const AtspiTextMap empty("");
  EXPECT_EQ(empty.characterCount(), 0);
  EXPECT_EQ(empty.utf16Offset(3), 0);
}

// Two screens side by side: a 1920x1080 one unscaled, then a 3840x2160 one at 2x, which Qt
// lays out as 1920x1080 logical pixels starting where X has it.
TEST(AtspiMapping, DevicePixelsBecomeQtsLogicalOnesOnTheScreenThatHoldsThem) {
  const std::vector<ScreenScale> screens = {{Rect{0, 0, 1920, 1080}, 1}, {Rect{1920, 0, 1920, 1080}, 2}};
  struct Case {
    Rect device, logical;
  } cases[] = {
      {{100, 200, 300, 40}, {100, 200, 300, 40}},          // the unscaled screen
      {{1920, 0, 3840, 2160}, {1920, 0, 1920, 1080}},      // the whole scaled screen
      {{2920, 1000, 200, 40}, {2420, 500, 100, 20}},       // inside it, about its top-left
      {{5000, 2000, 0, 30}, {3460, 1000, 0, 15}},          // a caret: no width
      {{9000, 9000, 10, 10}, {9000, 9000, 10, 10}},        // on no screen: as it came
  };
  for (const Case& c : cases) {
    EXPECT_EQ(deviceToLogical(c.device, screens), c.logical) << c.device.x << "," << c.device.y;
  }
  EXPECT_EQ(deviceToLogical({10, 10, 4, 4}, {}), (Rect{10, 10, 4, 4}));
}

TEST(AtspiAccessibility, RefusesCallsOffTheContextQueue) {
  testing::VirtualDispatcher dispatcher;
  testing::LogCapture log;
  auto accessibility = makeAtspiAccessibility(dispatcher.queue("app.sorvane.context"));
  EXPECT_FALSE(accessibility->frontmostApplication());
  EXPECT_FALSE(accessibility->mouseLocation());
  EXPECT_EQ(log.count("accessibility call refused reason=off-context-queue"), 1u);
}

}  // namespace
}  // namespace sorvane::platform
