#include <gtest/gtest.h>
#include "viewers/dispatch.h"

using viewers::decideViewer;
using viewers::ViewerAction;

TEST(Dispatch, EveryRowOfTheTableInItsOrder) {
  struct Case {
    const char *ext;
    bool mp3;
    ViewerAction want;
  };
  const Case cases[] = {
      {".wk4", false, ViewerAction::GetExcel},       {".wks", false, ViewerAction::GetExcel},
      {".wk", false, ViewerAction::GetExcel},        {".lnk", false, ViewerAction::Nothing},
      {".url", false, ViewerAction::Nothing},        {".xls", false, ViewerAction::GetExcel},
      {".doc", false, ViewerAction::GetExcel},       {".dbf", false, ViewerAction::GetDBase},
      {".db", false, ViewerAction::GetDBase},        {".mp3", true, ViewerAction::GetMp3},
      {".mp3", false, ViewerAction::Nothing},        {".py", false, ViewerAction::ShowHtml},
      {".avi", false, ViewerAction::ShowMultiMedia}, {".mid", false, ViewerAction::ShowMultiMedia},
      {".wav", false, ViewerAction::ShowMultiMedia}, {".exe", false, ViewerAction::Nothing},
      {".res", false, ViewerAction::Nothing},        {".cab", false, ViewerAction::Nothing},
      {".bmp", false, ViewerAction::ShowImages},     {".jpeg", false, ViewerAction::ShowImages},
      {".wmf", false, ViewerAction::ShowImages},     {".htm", false, ViewerAction::ShowHtml},
      {".html", false, ViewerAction::ShowHtml},      {".asp", false, ViewerAction::ShowHtml},
      {".zip", false, ViewerAction::ShowZip},        {".rtf", false, ViewerAction::ShowRtf},
      {".txt", false, ViewerAction::Editor},         {"", false, ViewerAction::Editor},
      {".h", false, ViewerAction::Editor},           {".cpp", false, ViewerAction::Editor},
  };
  for (const Case &c : cases)
    EXPECT_EQ(decideViewer(c.ext, c.mp3), c.want)
        << c.ext << " mp3=" << c.mp3 << " got " << viewers::actionName(decideViewer(c.ext, c.mp3));
}

TEST(Dispatch, PrefixRuleAndOrderingBetweenLists) {
  // ".jp" begins ".jpg" in the image list; ".ex" begins ".exe" in the excluded list.
  EXPECT_EQ(decideViewer(".jp", false), ViewerAction::ShowImages);
  EXPECT_EQ(decideViewer(".ex", false), ViewerAction::Nothing);
  // ".pp" begins ".ppt" (excluded) before ".ppm" (images): the excluded list wins.
  EXPECT_EQ(decideViewer(".pp", false), ViewerAction::Nothing);
  // ".ht" begins ".htm": HTML; ".as" begins ".asp".
  EXPECT_EQ(decideViewer(".ht", false), ViewerAction::ShowHtml);
  // Two-character extensions are never looked up in the lists.
  EXPECT_EQ(decideViewer(".b", false), ViewerAction::Editor);
  // Case matters in the lists: callers lower-case first.
  EXPECT_EQ(decideViewer(".JPG", false), ViewerAction::Editor);
  // Not a substring across entries: ".mpx" is in no list.
  EXPECT_EQ(decideViewer(".mpx", false), ViewerAction::Editor);
}

TEST(Dispatch, ExtensionAndCurrentFile) {
  EXPECT_EQ(viewers::extensionOf("photo.JPG"), ".jpg");
  EXPECT_EQ(viewers::extensionOf("archive.tar.GZ"), ".gz");
  EXPECT_EQ(viewers::extensionOf("readme"), "");
  EXPECT_EQ(viewers::extensionOf("ÄNDERUNG.TXT"), ".txt");
  EXPECT_EQ(viewers::extensionOf("x.ÄB"), ".Äb");  // only A to Z are lower-cased
  EXPECT_EQ(viewers::currentFileFrom("/", "etc"), "/etc");
  EXPECT_EQ(viewers::currentFileFrom("/home/u", "a b.txt"), "/home/u/a b.txt");
}

TEST(Dispatch, NewerDocumentAndMediaFilesBesideTheTable) {
  // Added by exact name: the Office97 tab for today's document containers, the MultiMedia tab for
  // today's sound and video files.
  for (const char *ext : {".docx", ".odt", ".xlsx", ".ods"})
    EXPECT_EQ(decideViewer(ext, false), ViewerAction::GetExcel) << ext;
  for (const char *ext : {".ogg", ".flac", ".webm", ".mp4", ".mkv", ".m4a", ".opus"})
    for (bool mp3 : {false, true}) EXPECT_EQ(decideViewer(ext, mp3), ViewerAction::ShowMultiMedia) << ext;
  // No prefix rule for them, and their neighbours keep the table's answer.
  for (const char *ext : {".doc", ".xls"}) EXPECT_EQ(decideViewer(ext, false), ViewerAction::GetExcel) << ext;
  for (const char *ext : {".ogv", ".og", ".fla", ".mp", ".odp", ".docm", ".xlsm", ".mkd", ".m4", ".opu"})
    EXPECT_EQ(decideViewer(ext, false), ViewerAction::Editor) << ext;
  EXPECT_EQ(decideViewer(".mp3", false), ViewerAction::Nothing);
  EXPECT_EQ(decideViewer(".mp3", true), ViewerAction::GetMp3);
  // PDFs have a tab of their own, by exact name too.
  for (bool mp3 : {false, true}) EXPECT_EQ(decideViewer(".pdf", mp3), ViewerAction::ShowPdf);
  for (const char *ext : {".pd", ".pdfx", ".fdf"}) EXPECT_EQ(decideViewer(ext, false), ViewerAction::Editor) << ext;
}

TEST(Dispatch, TodaysPicturesAndMarkdownOnlyTakeWhatReachedTheEditor) {
  for (const char *ext :
       {".webp", ".avif", ".heif", ".heic", ".jxl", ".jp2", ".icns", ".wbmp", ".mng", ".svg", ".svgz"})
    for (bool mp3 : {false, true}) EXPECT_EQ(decideViewer(ext, mp3), ViewerAction::ShowImages) << ext;
  for (const char *ext : {".md", ".markdown"})
    for (bool mp3 : {false, true}) EXPECT_EQ(decideViewer(ext, mp3), ViewerAction::ShowMarkdown) << ext;
  // Exact names: their prefixes and neighbours keep the table's answer.
  for (const char *ext :
       {".sv", ".svgx", ".web", ".webpx", ".mark", ".mdx", ".m", ".av", ".hei", ".markdow", ".txt", ".c"})
    EXPECT_EQ(decideViewer(ext, false), ViewerAction::Editor) << ext;
  EXPECT_EQ(decideViewer(".py", false), ViewerAction::ShowHtml);
}
