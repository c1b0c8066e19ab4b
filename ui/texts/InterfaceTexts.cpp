#include "ui/texts/InterfaceTexts.h"

#include "framework/KVMultiLanguage.h"

namespace palvex {

namespace {

constexpr TInterfaceText kMainWindowTexts[] = {
    {1, "Vyberte cílové umístění", "Destination folder:"},
    {2, "Vyberte zdrojové soubory", "Source folder:"},
    {3, "Kvalita výsledného souboru:", "Quality:"},
    {5, "Minimální šířka", "Minimum width"},
    {6, "Změnit velikost na:", "Resize to:"},
    {8, "bodů, minimální výška", "pixels, minimum height"},
    {9, "bodů", "pixels"},
    {10, "Maximální šířka", "Maximum width"},
    {11, "bodů, maximální výška", "pixels, maximum height"},
    {12, "bodů", "pixels"},
    {13, "Vyhlazování:", "Processing:"},
    {14, "Doplnit:", "Naming:"},
    {15, "+ NÁZEV SOUBORU +", "+ FILENAME +"},
    {17, "Automaticky doplnit parametry do názvu souboru", "Automatically add parameters to filename"},
    {18, "Sekvenčně přejmenovat", "Rename consecutively"},
    {19, "Generovat stránku HTML", "Generate HTML page"},
    {20, "Zachovat poměr stran", "Keep aspect ratio"},
    {21, "Automaticky detekovat obraz na výšku / na šířku", "Automatically detect landscape / portrait mode"},
    {24, "Start", "Start"},
    {25, "Konec", "Exit"},
    {26, "Vybrat vše", "Select all"},
    {27, "Zrušit výběr", "Deselect all"},
    {28, "Žádné", "None"},
    {29, "Lineární", "Linear"},
    {30, "Křivkové", "Spline"},
    {31, "Foto", "Photo"},
    {32, "Pokročilé", "Advanced"},
    {33, "Soubor", "File"},
    {34, "Integrovat do shellu", "Integrate to shell"},
    {35, "Zrušit integraci", "Remove integration"},
    {36, "Konec", "Exit"},
    {37, "Předvolby", "Presets"},
    {38, "Optimalizovat pro 800x600, 50% kvalita", "Optimize for 800x600, 50% quality"},
    {39, "Optimalizovat pro 1024x768, 50% kvalita", "Optimize for 1024x768, 50% quality"},
    {40, "Optimalizovat pro 1280x1024, 50% kvalita", "Optimize for 1280x1024, 50% quality"},
    {41, "Optimalizovat pro 1600x1200, 50% kvalita", "Optimize for 1600x1200, 50% quality"},
    {42, "Optimalizovat pro 800x600, 80% kvalita", "Optimize for 800x600, 80% quality"},
    {43, "Optimalizovat pro 1024x768, 80% kvalita", "Optimize for 1024x768, 80% quality"},
    {44, "Optimalizovat pro 1280x1024, 80% kvalita", "Optimize for 1280x1024, 80% quality"},
    {45, "Optimalizovat pro 1600x1200, 80% kvalita", "Optimize for 1600x1200, 80% quality"},
    {46, "Optimalizovat pro vyvolání fotografie 10x15cm", "Optimize for developing pictures 10x15cm / 4\"x6\""},
    {47, "Nápověda", "Help"},
    {48, "O programu...", "About..."},
    {50, "Soubor", "File"},
    {51, "Rozměr", "Pixels"},
    {52, "Velikost", "Size"},
    {53, "Jazyk", "Language"},
    {54, "Český", "Czech"},
    {55, "Anglický", "English"},
    {56, "Optimalizovat pro vyvolání fotografie 13x19cm", "Optimize for developing pictures 13x19cm / 5\"x7.5\""},
    {57, "Optimalizovat pro vyvolání fotografie 15x23cm", "Optimize for developing pictures 15x23cm / 6\"x9\""},
    {58, "Optimalizovat pro vyvolání fotografie 20x30cm", "Optimize for developing pictures 20x30cm / 8\"x12\""},
    {59, "Pouze konvertovat do JPEG, 100% kvalita", "Convert to JPEG only, 100% quality"},
    {60, "On-line nápověda", "Online help"},
    {70, "Vyberte typy souborů:", "Select filetypes:"},
    {71, "Vyberte předvolby:", "Select presets:"},
    {72, "Výchozí", "Default"},
    {73, "Vybrat vše", "Select all"},
    {74, "Zrušit výběr", "Select none"},
    {75, "OK", "OK"},
    {76, "Zrušit", "Cancel"},
    {201, "Palvex: 50%, 800x600", "Palvex: 50%, 800x600"},
    {202, "Palvex: 50%, 1024x768", "Palvex: 50%, 1024x768"},
    {203, "Palvex: 50%, 1280x1024", "Palvex: 50%, 1280x1024"},
    {204, "Palvex: 50%, 1600x1200", "Palvex: 50%, 1600x1200"},
    {205, "Palvex: 80%, 800x600", "Palvex: 80%, 800x600"},
    {206, "Palvex: 80%, 1024x768", "Palvex: 80%, 1024x768"},
    {207, "Palvex: 80%, 1280x1024", "Palvex: 80%, 1280x1024"},
    {208, "Palvex: 80%, 1600x1200", "Palvex: 80%, 1600x1200"},
    {209, "Palvex: Fotografie 10x15cm", "Palvex: Picture 10x15cm / 4\"x6\""},
    {210, "Palvex: Fotografie 13x19cm", "Palvex: Picture 13x19cm / 5\"x7.5\""},
    {221, "Palvex: Fotografie 15x23cm", "Palvex: Picture 15x23cm / 6\"x9\""},
    {222, "Palvex: Fotografie 20x30cm", "Palvex: Picture 20x30cm / 8\"x12\""},
    {225, "Palvex: Konvertovat do JPEG, 100% kvalita", "Palvex: Convert to JPEG, 100% quality\""},
    {226, "Palvex: 4-BASE (fotografie až 10x15cm)", "Palvex: 4-BASE (pictures up to 10x15cm / 4\"x6\")"},
    {227, "Palvex: 16-BASE (fotografie až 20x30cm)", "Palvex: 16-BASE (pictures up to 20x30cm / 8\"x12\")"},
    {228, "Optimalizovat na 4-BASE (fotografie až 10x15cm)", "Optimize to 4-BASE (pictures up to 10x15cm / 4\"x6\")"},
    {229, "Optimalizovat na 16-BASE (fotografie až 20x30cm)", "Optimize to 16-BASE (pictures up to 20x30cm / 8\"x12\")"},
};

constexpr TInterfaceText kProgressTexts[] = {
    {801, "Čekejte, prosím...", "Wait, please..."},
};

constexpr TInterfaceText kSelectDirTexts[] = {
    {810, "Vyberte cílové umístění", "Choose destination folder"},
    {811, "Vytvořit novou složku", "Create new folder"},
    {812, "OK", "OK"},
    {813, "Zrušit", "Cancel"},
    {814, "Vytvoření nové složky", "Create new folder"},
    {815, "Zadejte název", "Name"},
};

void Fill(std::span<const TInterfaceText> texts, int language)
{
    if (language != kLanguageCzech && language != kLanguageEnglish)
        return;
    for (const TInterfaceText& text : texts)
        SetText(text.Number, language == kLanguageCzech ? text.Czech : text.English);
}

} // namespace

std::span<const TInterfaceText> MainWindowTexts() { return kMainWindowTexts; }

void FillMainWindowTexts(int language) { Fill(kMainWindowTexts, language); }
void FillProgressTexts(int language) { Fill(kProgressTexts, language); }
void FillSelectDirTexts(int language) { Fill(kSelectDirTexts, language); }

} // namespace palvex
