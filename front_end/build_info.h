// build_info.h: what the build supplies to the version text.
#pragma once

// The compiler's date ("Dec 11 2026") and time ("13:05:59") of the build;
// the source file that holds them is compiled again by every build.
extern const char build_date[];
extern const char build_time[];

// The source revision (40 hexadecimal digits; all zeros outside a git
// checkout) and the account that configured the build.
extern const char build_revision[];
extern const char build_account[];
