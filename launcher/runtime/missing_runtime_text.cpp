#include "runtime/missing_runtime_text.h"

namespace {

void appendBounds(std::u16string& text, std::u16string_view minLabel, std::u16string_view minVersion,
                  std::u16string_view maxLabel, std::u16string_view maxVersion) {
  bool appended = false;
  if (!minVersion.empty()) {
    text.append(u" (").append(minLabel).append(u" ").append(minVersion);
    appended = true;
  }
  if (!maxVersion.empty()) {
    text.append(appended ? u", " : u" (").append(maxLabel).append(u" ").append(maxVersion);
    appended = true;
  }
  if (appended) text += u')';
}

}  // namespace

std::u16string composeRuntimeMissingText(std::u16string_view textTemplate, std::u16string_view bits,
                                         std::u16string_view minLabel, std::u16string_view minVersion,
                                         std::u16string_view maxLabel, std::u16string_view maxVersion) {
  std::u16string text;
  bool bitsUsed = false;
  for (std::size_t i = 0; i < textTemplate.size(); ++i) {
    char16_t next = i + 1 < textTemplate.size() ? textTemplate[i + 1] : u'\0';
    if (textTemplate[i] == u'%' && next == u'%') {
      text += u'%';
      ++i;
    } else if (textTemplate[i] == u'%' && next == u'S' && !bitsUsed) {
      // The template has one argument: a second "%S" has nothing to take.
      text += bits;
      bitsUsed = true;
      ++i;
    } else {
      text += textTemplate[i];
    }
  }
  appendBounds(text, minLabel, minVersion, maxLabel, maxVersion);
  return text;
}

std::u16string composeLocatedRuntimeRefusal(std::u16string_view file, std::u16string_view version,
                                            bool versionAccepted, std::u16string_view bits,
                                            std::u16string_view minLabel, std::u16string_view minVersion,
                                            std::u16string_view maxLabel, std::u16string_view maxVersion) {
  std::u16string text(file);
  if (version.empty()) {
    text.append(u"\nis not a ").append(bits).append(u"-bit Java(TM) runtime: it reported no Java version.");
  } else if (versionAccepted) {
    // The only other refusal of a runtime whose version fits: the windowed launcher is asked for.
    text.append(u"\nreports Java version ").append(version).append(u", but javaw.exe is missing beside it.");
  } else {
    text.append(u"\nreports Java version ").append(version).append(u", which this installer cannot use");
    appendBounds(text, minLabel, minVersion, maxLabel, maxVersion);
    text += u'.';
  }
  text += u"\nPlease choose another java.exe, or Cancel.";
  return text;
}
