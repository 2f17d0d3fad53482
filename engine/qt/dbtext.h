// dbtext: engine text (Windows code-page 1252 bytes) to and from Qt's Unicode strings, for the
// data-aware widgets. Bytes 0x80-0x9F take the code page's own characters; bytes it leaves
// undefined map to the control characters of the same value, so every byte round-trips.
// Thread-safety: pure functions.
#pragma once

#include <QString>
#include <string>
#include <string_view>

QString FromEngineText(std::string_view text);
// Characters the code page has no byte for become '?'.
std::string ToEngineText(const QString& text);
