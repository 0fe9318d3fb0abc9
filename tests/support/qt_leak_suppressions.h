#pragma once
// For every Qt test binary: the font library keeps caches for the life of
// the process, and Qt's TLS backend can leave OpenSSL's per-thread state to a
// thread still ending at exit. Neither is ours; the leak checker would report
// them at the exit of a binary that draws text or speaks HTTPS.
extern "C" [[gnu::used]] inline const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libcrypto.so\n";
}
