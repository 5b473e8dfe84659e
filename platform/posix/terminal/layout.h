// How the terminal lays texts out: screen forms of texts, rules and the
// choice among buttons, for the window and the message boxes alike.
#pragma once

#include "platform/text.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vk::posix {

// Screen form of a text: UTF-8, CR LF (and a lone LF) as a line break. A
// lone CR and other control characters, which would move the cursor or
// drive the terminal, show as U+FFFD.
std::string screenText(TextView text);
// The same, each line broken to fit `width` columns: at the last blank that
// fits (the blank itself goes), and a word longer than a line where the line
// ends. A character counts one column, a Turkish letter as any other.
std::string screenText(TextView text, std::size_t width);

// The user's choice among buttons, from one line typed. The line is trimmed;
// "" chooses the default (none when there is no default), a number from 1
// chooses by position, anything else must equal a caption without regard to
// case (Turkish dotted and dotless i taken as the same letter).
std::optional<std::size_t> chooseButton(std::string_view line, const std::vector<Text>& captions,
                                        std::optional<std::size_t> defaultChoice);

// The hint shown for a line that names no button.
inline constexpr char kChooseHint[] =
    "Lütfen düğmelerden birini seçin: numarasını ya da adını yazın.";

// A line typed without the blanks around it.
std::string_view trim(std::string_view s);

// The low half of a surrogate pair: no column of its own.
bool isLowSurrogate(char16_t c);

// Columns a text takes, counting each character once (a surrogate pair is
// one character); enough for the Latin texts this screen shows.
std::size_t columns(TextView text);

std::string repeat(std::string_view piece, std::size_t times);

// "<lead> <title> <fill...>" to the width, or a plain rule.
std::string titledRule(std::string_view lead, std::string_view fill, TextView title,
                       std::size_t width);

// Screen form in UTF-16: CR LF as LF, control characters defused.
Text shownUnits(TextView text);

// The buttons offered on one line, numbered, with the default's caption:
// "[1] Evet  [2] Hayır  (Enter: Evet) > ".
std::string buttonList(const std::vector<Text>& captions, std::optional<std::size_t> def);

} // namespace vk::posix
