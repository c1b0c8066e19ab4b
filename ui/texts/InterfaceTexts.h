// The interface texts of the main window, the integration dialog, the verb
// captions, the progress window and the folder chooser, in Czech and English:
// one table that every window and the shell integration fill from. No Qt, so
// that palvex-cli can write verb captions too.
#pragma once

#include <span>

namespace palvex {

struct TInterfaceText {
    int Number;
    const char* Czech;
    const char* English;
};

// Numbers 1 to 76 and 201 to 229, shared by the main window and the integration dialog.
std::span<const TInterfaceText> MainWindowTexts();

// Each writes its window's numbers into the text table for language (0 Czech,
// 1 English); any other language leaves the table as it is.
void FillMainWindowTexts(int language);
void FillProgressTexts(int language);   // 801
void FillSelectDirTexts(int language);  // 810 to 815

} // namespace palvex
