// The setup window and the message boxes as the terminal presents them,
// driven through in-memory streams.
#include "form1/controls.h"
#include "platform/errors.h"
#include "platform/posix/terminal/layout.h"
#include "platform/posix/terminal/message_box.h"
#include "platform/posix/terminal/terminal.h"
#include "platform/posix/terminal/window.h"
#include "platform/runtime.h"
#include "support/app_runner.h"
#include "support/failures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vk::posix {
namespace {

using test::count;

// A terminal whose input is a fixed text and whose output is kept.
class Screen {
public:
  explicit Screen(std::string input, bool echo = false,
                  std::optional<std::size_t> columns = std::nullopt)
      : input_(std::move(input)) {
    in_ =
        input_.empty() ? std::fopen("/dev/null", "r") : fmemopen(input_.data(), input_.size(), "r");
    out_ = open_memstream(&buffer_, &size_);
    if (!in_ || !out_) std::abort();
    terminal_ = std::make_unique<Terminal>(in_, out_, echo, columns);
  }
  ~Screen() {
    terminal_.reset();
    std::fclose(in_);
    std::fclose(out_);
    std::free(buffer_);
  }
  Terminal& terminal() { return *terminal_; }
  std::string output() {
    std::fflush(out_);
    return std::string(buffer_, size_);
  }
  // What is left unread of the input.
  std::string rest() {
    std::string s;
    for (int c; (c = std::fgetc(in_)) != EOF;)
      s += static_cast<char>(c);
    return s;
  }

private:
  std::string input_;
  std::FILE* in_ = nullptr;
  std::FILE* out_ = nullptr;
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::unique_ptr<Terminal> terminal_;
};

struct Events final : WindowEvents {
  std::function<void()> onLoad;
  std::function<void(ControlId)> onClick;
  int loads = 0;
  std::vector<ControlId> clicks;
  void load() override {
    ++loads;
    if (onLoad) onLoad();
  }
  void click(ControlId button) override {
    clicks.push_back(button);
    if (onClick) onClick(button);
  }
};

const std::string kCaption = "Vorlan Kurulum işlemlerine hoşgeldiniz.";
const std::string kStartPrompt = "[1] Devam  [2] Kurulumdan Çık  (Enter: Devam) > ";

// The load event as the component check leaves the window.
void fillMessages(Window& w) {
  w.setText(ctl::Text12, u"Başlık satırı");
  w.setText(ctl::Text13, u"\r\nMSCOMCTL.OCX\r\nwmp.dll");
  w.setText(ctl::Text14, u"Talimat satırı");
  w.setText(ctl::Text1(3), u"MSCOMCTL.OCX");
}

// --- Printing ---------------------------------------------------------------

TEST(TerminalWindowPrint, ShowsCaptionMessagesProductLineAndButtonsInReadingOrder) {
  Screen screen("");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  events.onLoad = [&] { fillMessages(window); };
  window.run(events);

  const std::string out = screen.output();
  EXPECT_EQ(events.loads, 1);
  EXPECT_TRUE(events.clicks.empty());
  const auto caption = out.find(kCaption);
  const auto headline = out.find("\nBaşlık satırı\n");
  const auto list = out.find("\n\nMSCOMCTL.OCX\nwmp.dll\n");
  const auto advice = out.find("\nTalimat satırı\n");
  const auto product = out.find("\nVorlan e-Belge uygulaması\n© Vorlan. Tüm hakları saklıdır.");
  const auto buttons = out.find("  [ Kurulumdan Çık ]  [ Devam ]\n");
  const auto prompt = out.find(kStartPrompt);
  ASSERT_NE(caption, std::string::npos) << out;
  ASSERT_NE(headline, std::string::npos) << out;
  ASSERT_NE(list, std::string::npos) << out;
  ASSERT_NE(advice, std::string::npos) << out;
  ASSERT_NE(product, std::string::npos) << out;
  ASSERT_NE(buttons, std::string::npos) << out;
  ASSERT_NE(prompt, std::string::npos) << out;
  EXPECT_LT(caption, headline);
  EXPECT_LT(headline, list);
  EXPECT_LT(list, advice);
  EXPECT_LT(advice, product);
  EXPECT_LT(product, buttons);
  EXPECT_LT(buttons, prompt);
}

TEST(TerminalWindowPrint, NeverShowsHiddenControlsOrCarriageReturns) {
  Screen screen("");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  events.onLoad = [&] { fillMessages(window); };
  window.run(events);

  const std::string out = screen.output();
  EXPECT_EQ(out.find("Text8"), std::string::npos) << out; // Text1(7), never written
  EXPECT_EQ(out.find("Text2"), std::string::npos) << out; // Text1(1)
  EXPECT_EQ(out.find("Kapat"), std::string::npos) << out; // Command3 starts hidden
  EXPECT_EQ(count(out, "MSCOMCTL.OCX"), 1u) << out;       // Text13 only, not Text1(3)
  EXPECT_EQ(out.find('\r'), std::string::npos);
}

TEST(TerminalWindowPrint, LabelsWithoutTextPrintNothingButEmptyTextBoxesKeepTheirPlace) {
  static const ControlSpec controls[] = {
      {u"Label1", -1, ControlKind::Label, 0, 0, 10, 10, u""},
      {u"Shape1", -1, ControlKind::Shape, 0, 0, 10, 10, u""},
      {u"Box", -1, ControlKind::TextBox, 0, 100, 10, 10, u""},
      {u"Note", -1, ControlKind::Label, 0, 200, 10, 10, u"Not"},
      {u"Go", -1, ControlKind::Button, 0, 300, 10, 10, u"Tamam", true, false, false, true, 0},
  };
  static const WindowSpec layout{u"Pencere", 100, 100, controls};
  Screen screen("");
  TerminalWindow window(layout, screen.terminal());
  Events events;
  window.run(events);
  const std::string out = screen.output();
  // The rule under the caption, the empty box as an empty line, a rule, then the label.
  const std::string rule = "─";
  const auto caption = out.find("Pencere");
  const auto box = out.find("\n\n" + rule, caption);
  const auto note = out.find("\nNot\n");
  ASSERT_NE(caption, std::string::npos);
  ASSERT_NE(box, std::string::npos) << out;
  ASSERT_NE(note, std::string::npos) << out;
  EXPECT_LT(box, note);
  // Two texts printed: one separating rule between them.
  EXPECT_EQ(count(out, "\n" + rule), 1u) << out;
}

TEST(TerminalWindowPrint, ScreenTextBreaksLinesWrapsAndDefusesControlCharacters) {
  EXPECT_EQ(screenText(u"a\r\nb"), "a\nb");
  EXPECT_EQ(screenText(u"\r\n"), "\n");
  EXPECT_EQ(screenText(u"a\nb"), "a\nb");
  EXPECT_EQ(screenText(u"a\rb"), "a\uFFFDb"); // would return the cursor over the line
  EXPECT_EQ(screenText(u"\x1b[2J"), "\uFFFD[2J");
  EXPECT_EQ(screenText(u"çık\tŞ"), "çık\tŞ");
  // Wrapped: at the last blank that fits, which goes.
  EXPECT_EQ(screenText(u"bir iki üç", 7), "bir iki\nüç");
  EXPECT_EQ(screenText(u"bir iki üç", 10), "bir iki üç");
  // A Turkish letter is one column, though two bytes.
  EXPECT_EQ(screenText(u"çğıöşü İŞ", 6), "çğıöşü\nİŞ");
  // A word longer than a line breaks where the line ends.
  EXPECT_EQ(screenText(u"a chromedriver_win32", 6), "a\nchrome\ndriver\n_win32");
  // The text's own line breaks stay, CR LF and empty lines among them.
  EXPECT_EQ(screenText(u"ab cd\r\nef\r\n\r\ngh", 2), "ab\ncd\nef\n\ngh");
  EXPECT_EQ(screenText(u" Chrome yüklü", 7), " Chrome\nyüklü");
}

TEST(TerminalWindowPrint, TheFrameNarrowsToTheTerminalButNeverWidens) {
  for (const std::size_t columns : {40u, 200u}) {
    Screen screen("", false, columns);
    TerminalWindow window(ctl::kWindow, screen.terminal());
    Events events;
    events.onLoad = [&] {
      window.setText(ctl::Text12, u"Vorlan çalışabilmek için bazı Windows bileşenlerine ihtiyaç "
                                  u"duyar.");
    };
    window.run(events);
    const std::size_t width = std::min<std::size_t>(columns, 64);
    std::string heavy;
    for (std::size_t k = 0; k < width; ++k)
      heavy += "═";
    const std::string out = screen.output();
    EXPECT_NE(out.find("\n" + heavy + "\n"), std::string::npos) << out;
    EXPECT_EQ(out.find(heavy + "═"), std::string::npos) << out;
    EXPECT_NE(out.find(width == 40 ? "\nVorlan çalışabilmek için bazı Windows\nbileşenlerine"
                                   : "\nVorlan çalışabilmek için bazı Windows bileşenlerine "
                                     "ihtiyaç\nduyar.\n"),
              std::string::npos)
        << out;
  }
}

// --- Choosing a button at the window -----------------------------------------

TEST(TerminalWindowInput, ANumberPressesThatButtonInTabOrder) {
  Screen screen("2\n1\n");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  window.run(events);
  EXPECT_EQ(events.clicks, (std::vector<ControlId>{ctl::Command2, ctl::Command1}));
}

TEST(TerminalWindowInput, ACaptionPressesItsButtonWhateverTheCase) {
  Screen screen("  kurulumdan çık \nDEVAM\nKURULUMDAN ÇIK\nKurulumdan Çik\r\n");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  window.run(events);
  EXPECT_EQ(events.clicks,
            (std::vector<ControlId>{ctl::Command2, ctl::Command1, ctl::Command2, ctl::Command2}));
  EXPECT_EQ(count(screen.output(), kChooseHint), 0u);
}

TEST(TerminalWindowInput, AnEmptyLinePressesTheButtonWithTheFocus) {
  Screen screen("\n2\n\n");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  EXPECT_EQ(window.focus(), ctl::Command1); // "Devam", lowest tab index
  Events events;
  window.run(events);
  // The first empty line presses "Devam"; pressing "Kurulumdan Çık" moves the
  // focus there, so the next empty line presses it.
  EXPECT_EQ(events.clicks, (std::vector<ControlId>{ctl::Command1, ctl::Command2, ctl::Command2}));
  EXPECT_EQ(window.focus(), ctl::Command2);
  EXPECT_NE(screen.output().find("[1] Devam  [2] Kurulumdan Çık  (Enter: Kurulumdan Çık) > "),
            std::string::npos);
}

TEST(TerminalWindowInput, EndOfInputIsTheCloseBox) {
  Screen screen("");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  EXPECT_NO_THROW(window.run(events));
  EXPECT_TRUE(events.clicks.empty());
  // Closed: later changes print nothing.
  const std::string before = screen.output();
  window.setText(ctl::Text12, u"sonra");
  window.repaintIfChanged();
  EXPECT_EQ(screen.output(), before);
}

TEST(TerminalWindowInput, ALineNamingNoButtonGetsAHintAndThePromptAgain) {
  Screen screen("xyz\n9\n0\nKapat\n-1\n");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  window.run(events);
  const std::string out = screen.output();
  EXPECT_TRUE(events.clicks.empty()); // "Kapat" is hidden, so not a choice either
  EXPECT_EQ(count(out, kChooseHint), 5u) << out;
  EXPECT_EQ(count(out, kStartPrompt), 6u) << out;
  EXPECT_EQ(count(out, kCaption), 1u) << out; // the window is not printed again
}

TEST(TerminalWindowInput, EchoesPipedLinesSoTranscriptsRead) {
  // The line typed, and its echo after the prompt: control characters and
  // bytes that are not UTF-8 show as in the texts, never raw.
  const struct {
    std::string typed;
    std::string echoed;
  } cases[] = {
      {"2", "2"},
      {"\x1b[2J", "\uFFFD[2J"},
      {"\x1b]0;title\x07", "\uFFFD]0;title\uFFFD"},
      {"a\rb", "a\uFFFDb"},
      {"\x7f\xc2\x9b", "\uFFFD\uFFFD"},
      {"\xff", "\uFFFD"},
      {"çık\tŞ", "çık\tŞ"},
  };
  for (const auto& c : cases) {
    Screen screen(c.typed + "\n2\n", true);
    TerminalWindow window(ctl::kWindow, screen.terminal());
    Events events;
    window.run(events);
    const std::string out = screen.output();
    EXPECT_NE(out.find(kStartPrompt + c.echoed + "\n"), std::string::npos) << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
  }
}

// A line past 64 KB is cut there and the rest of it dropped as it comes;
// the next line is read as it stands.
TEST(TerminalWindowInput, AnOverlongLineIsCutAndTheNextOneStillArrives) {
  std::FILE* in = ::popen("head -c 3145728 /dev/zero | tr '\\0' x; printf '\\nnext\\r\\n'", "r");
  std::FILE* out = std::tmpfile();
  Terminal terminal(in, out, false, 64);
  EXPECT_EQ(terminal.readLine(), std::string(64 * 1024, 'x'));
  EXPECT_EQ(terminal.readLine(), "next");
  EXPECT_EQ(terminal.readLine(), std::nullopt);
  ::pclose(in);
  std::fclose(out);
}

// --- Reprinting ---------------------------------------------------------------

TEST(TerminalWindowReprint, OnlyWhenAHandlerChangedWhatIsShown) {
  Screen screen("1\n1\n1\n1\n1\n");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  events.onLoad = [&] { fillMessages(window); };
  events.onClick = [&](ControlId) {
    switch (events.clicks.size()) {
    case 1: // nothing at all
      break;
    case 2: // hidden controls only
      window.setText(ctl::Text1(0), u"gizli");
      window.setVisible(ctl::Command3, false);
      break;
    case 3: // the same text again
      window.setText(ctl::Text12, u"Başlık satırı");
      break;
    case 4: // a visible message
      window.setText(ctl::Text12, u"Yeni başlık");
      break;
    case 5: // a change undone before the handler returned: nothing new to show
      window.setText(ctl::Text14, u"geçici");
      window.setText(ctl::Text14, u"Talimat satırı");
      break;
    }
  };
  window.run(events);
  const std::string out = screen.output();
  EXPECT_EQ(events.clicks.size(), 5u);
  EXPECT_EQ(count(out, kCaption), 2u) << out;
  EXPECT_EQ(count(out, "Yeni başlık"), 1u) << out;
  EXPECT_EQ(window.text(ctl::Text1(0)), u"gizli");
}

TEST(TerminalWindowReprint, TheButtonSwapAtTheEndOfARunLeavesOnlyKapatWithTheFocus) {
  Screen screen("devam\n\n");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  events.onClick = [&](ControlId b) {
    if (b != ctl::Command1) throw ProgramEnd{};
    window.setVisible(ctl::Command3, true);
    window.setVisible(ctl::Command2, false);
    window.setVisible(ctl::Command1, false);
  };
  EXPECT_THROW(window.run(events), ProgramEnd);
  EXPECT_EQ(events.clicks, (std::vector<ControlId>{ctl::Command1, ctl::Command3}));
  EXPECT_TRUE(window.visible(ctl::Command3));
  EXPECT_FALSE(window.visible(ctl::Command1));
  const std::string out = screen.output();
  const auto second = out.find(kCaption, out.find(kCaption) + 1);
  ASSERT_NE(second, std::string::npos) << out;
  const std::string reprint = out.substr(second);
  EXPECT_NE(reprint.find("\n  [ Kapat ]\n"), std::string::npos) << reprint;
  EXPECT_NE(reprint.find("[1] Kapat  (Enter: Kapat) > "), std::string::npos) << reprint;
  EXPECT_EQ(reprint.find("Devam"), std::string::npos) << reprint;
}

TEST(TerminalWindowReprint, AMessageBoxBringsTheChangedWindowUpToDateFirst) {
  Screen screen("1\n");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  int result = 0;
  events.onClick = [&](ControlId) {
    window.setText(ctl::Text12, u"Kurulum işlemi tamamlandı !");
    result = showMessageBox(screen.terminal(), u"Chrome bağlantısı test edildi.", vbInformation,
                            u"VorlanKur v1.0.0");
  };
  window.run(events);
  const std::string out = screen.output();
  EXPECT_EQ(result, vbOK); // the box met the end of input
  const auto reprint = out.find("Kurulum işlemi tamamlandı !");
  const auto box = out.find("Chrome bağlantısı test edildi.");
  ASSERT_NE(reprint, std::string::npos) << out;
  ASSERT_NE(box, std::string::npos) << out;
  EXPECT_LT(reprint, box);
  // Once the box has brought it up to date, returning reprints nothing more.
  EXPECT_EQ(count(out, kCaption), 2u) << out;
}

// --- Leaving run() ------------------------------------------------------------

TEST(TerminalWindowEnd, ProgramEndFromAHandlerLeavesRunAndReadsNoMore) {
  Screen screen("2\n1\n");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  events.onClick = [&](ControlId) {
    window.setText(ctl::Text12, u"değişti");
    throw ProgramEnd{};
  };
  EXPECT_THROW(window.run(events), ProgramEnd);
  EXPECT_EQ(events.clicks, std::vector<ControlId>{ctl::Command2});
  EXPECT_EQ(screen.rest(), "1\n");
  EXPECT_EQ(screen.output().find("değişti"), std::string::npos); // the window closed, no reprint
}

TEST(TerminalWindowEnd, ARuntimeErrorFromAHandlerLeavesRunWithItsNumber) {
  Screen screen("1\n1\n");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  events.onClick = [](ControlId) { throw RuntimeError(err::PathNotFound); };
  EXPECT_EQ(test::errorNumber([&] { window.run(events); }), err::PathNotFound);
  EXPECT_EQ(events.clicks.size(), 1u);
}

TEST(TerminalWindowEnd, AFailingLoadEventPropagatesAndTheWindowIsNeverShown) {
  Screen screen("1\n");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  events.onLoad = [] { throw RuntimeError(err::FileNotFound); };
  EXPECT_THROW(window.run(events), RuntimeError);
  EXPECT_TRUE(events.clicks.empty());
  EXPECT_EQ(screen.output(), "");
  EXPECT_EQ(screen.rest(), "1\n");
}

TEST(TerminalWindowEnd, ABoxDuringLoadDoesNotShowTheWindow) {
  Screen screen("");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  Events events;
  events.onLoad = [&] {
    window.setText(ctl::Text12, u"yüklenirken");
    showMessageBox(screen.terminal(), u"soru", vbOKOnly, u"VorlanKur");
  };
  window.run(events);
  const std::string out = screen.output();
  EXPECT_LT(out.find("soru"), out.find(kCaption));
  EXPECT_EQ(count(out, kCaption), 1u);
}

TEST(TerminalWindowState, TextsAndVisibilityStartFromTheTableAndFollowTheSetters) {
  Screen screen("");
  TerminalWindow window(ctl::kWindow, screen.terminal());
  EXPECT_EQ(window.text(ctl::Text1_7), u"Text8");
  EXPECT_EQ(window.text(ctl::Command2), u"Kurulumdan Çık");
  EXPECT_FALSE(window.visible(ctl::Text1(0)));
  EXPECT_FALSE(window.visible(ctl::Command3));
  EXPECT_TRUE(window.visible(ctl::Command1));
  window.setText(ctl::Text13, u"x");
  window.setVisible(ctl::Command3, true);
  EXPECT_EQ(window.text(ctl::Text13), u"x");
  EXPECT_TRUE(window.visible(ctl::Command3));
  EXPECT_EQ(screen.output(), ""); // not shown before run()
}

// --- Message boxes ------------------------------------------------------------

int box(const std::string& input, int buttons, std::string* out = nullptr,
        const Text& prompt = u"Soru?", const Text& title = u"VorlanKur v1.0.0") {
  Screen screen(input);
  const int result = showMessageBox(screen.terminal(), prompt, buttons, title);
  if (out) *out = screen.output();
  return result;
}

TEST(MessageBox, YesNoWithNoAsDefault) {
  std::string out;
  EXPECT_EQ(box("", 292, &out), vbNo); // end of input: the default button
  EXPECT_NE(out.find("VorlanKur v1.0.0"), std::string::npos) << out;
  EXPECT_NE(out.find("(?)"), std::string::npos) << out;
  EXPECT_NE(out.find("\nSoru?\n"), std::string::npos) << out;
  EXPECT_NE(out.find("[1] Evet  [2] Hayır  (Enter: Hayır) > "), std::string::npos) << out;
  EXPECT_EQ(box("\n", 292), vbNo);
  EXPECT_EQ(box("1\n", 292), vbYes);
  EXPECT_EQ(box("evet\n", 292), vbYes);
  EXPECT_EQ(box("EVET\r\n", 292), vbYes);
  EXPECT_EQ(box("2\n", 292), vbNo);
  EXPECT_EQ(box("HAYIR\n", 292), vbNo);
  EXPECT_EQ(box("hayir\n", 292), vbNo);
}

TEST(MessageBox, YesNoWithYesAsDefault) {
  std::string out;
  EXPECT_EQ(box("", 36, &out), vbYes);
  EXPECT_NE(out.find("(Enter: Evet)"), std::string::npos) << out;
  EXPECT_EQ(box("\n", 4), vbYes);
  EXPECT_EQ(box("hayır\n", 4), vbNo);
}

TEST(MessageBox, OkAloneAnswersOneHoweverItIsClosed) {
  std::string out;
  EXPECT_EQ(box("", 0, &out), vbOK);
  EXPECT_NE(out.find("[1] Tamam  (Enter: Tamam) > "), std::string::npos) << out;
  EXPECT_EQ(box("\n", 0), vbOK);
  EXPECT_EQ(box("tamam\n", 64), vbOK);
  EXPECT_EQ(box("1\n", 16), vbOK);
}

TEST(MessageBox, IconWordsFollowTheIconBits) {
  std::string out;
  box("", 16, &out);
  EXPECT_NE(out.find("(x)"), std::string::npos) << out;
  box("", 48, &out);
  EXPECT_NE(out.find("(!)"), std::string::npos) << out;
  box("", 64, &out);
  EXPECT_NE(out.find("(i)"), std::string::npos) << out;
  box("", 0, &out);
  for (const char* icon : {"(x)", "(?)", "(!)", "(i)"})
    EXPECT_EQ(out.find(icon), std::string::npos) << icon;
}

TEST(MessageBox, ALineNamingNoButtonGetsAHintAndThePromptAgain) {
  std::string out;
  EXPECT_EQ(box("3\nbelki\n\n", 292, &out), vbNo);
  EXPECT_EQ(count(out, kChooseHint), 2u) << out;
  EXPECT_EQ(count(out, "[1] Evet  [2] Hayır"), 3u) << out;
  EXPECT_EQ(box("2\n", 0, &out), vbOK); // OK alone has no second button
  EXPECT_EQ(count(out, kChooseHint), 1u);
}

TEST(MessageBox, PromptLinesBreakAtCrLfAndTheTitleIsShownVerbatim) {
  std::string out;
  box("", 16, &out, u"Çalışma zamanı hatası '53':\r\n\r\nDosya bulunamadı", u"VorlanKur");
  EXPECT_NE(out.find("\nÇalışma zamanı hatası '53':\n\nDosya bulunamadı\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("VorlanKur"), std::string::npos);
  EXPECT_EQ(out.find('\r'), std::string::npos);
}

TEST(MessageBox, OtherButtonSetsAndCancel) {
  EXPECT_EQ(box("", 1), 2); // OK and Cancel: closing is Cancel
  EXPECT_EQ(box("tamam\n", 1), 1);
  EXPECT_EQ(box("", 3 + 256), 2);   // Yes, No, Cancel
  EXPECT_EQ(box("\n", 3 + 256), 7); // its default is No
  EXPECT_EQ(box("\n", 0 + 512), 1); // a default past the buttons falls back to the first
  EXPECT_EQ(box("yeniden dene\n", 2), 4);
  EXPECT_EQ(test::errorNumber([&] { box("", 7); }), err::InvalidCall); // no such button set
}

// --- The choice rule on its own ---------------------------------------------------

TEST(ChooseButton, NumbersCaptionsAndDefaults) {
  const std::vector<Text> captions{u"Devam", u"Kurulumdan Çık"};
  EXPECT_EQ(chooseButton("1", captions, std::nullopt), 0u);
  EXPECT_EQ(chooseButton(" 2\t", captions, std::nullopt), 1u);
  EXPECT_EQ(chooseButton("02", captions, std::nullopt), 1u);
  EXPECT_EQ(chooseButton("3", captions, std::nullopt), std::nullopt);
  EXPECT_EQ(chooseButton("0", captions, std::nullopt), std::nullopt);
  EXPECT_EQ(chooseButton("99999999999999999999", captions, std::nullopt), std::nullopt);
  EXPECT_EQ(chooseButton("", captions, 1), 1u);
  EXPECT_EQ(chooseButton("   ", captions, std::nullopt), std::nullopt);
  EXPECT_EQ(chooseButton("KURULUMDAN ÇIK", captions, std::nullopt), 1u);
  EXPECT_EQ(chooseButton("kurulumdan çık", captions, std::nullopt), 1u);
  EXPECT_EQ(chooseButton("Kurulumdan", captions, std::nullopt), std::nullopt);
  EXPECT_EQ(chooseButton("Devam!", captions, std::nullopt), std::nullopt);
  EXPECT_EQ(chooseButton("\xff", captions, std::nullopt), std::nullopt); // not UTF-8
}

} // namespace
} // namespace vk::posix
