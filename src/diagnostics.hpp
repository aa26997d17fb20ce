#pragma once

// Writes one diagnostic line to standard error: "scanoutsnap: ", the formatted
// text, and a newline, in a single write. Like fprintf, it leaves errno alone
// unless the write itself fails.
[[gnu::format(printf, 1, 2)]] void report(const char* format, ...);

// Whether a phase prints the lines of its failures: a later attempt at the
// capture fails without a word.
enum class failure_lines { printed, silent };
