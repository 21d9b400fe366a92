// Artwork of the archive window: the ten entry icons chosen by a name's
// extension and the images of its tool buttons, drawn with QPainter so that no
// image files need to be shipped.
#pragma once

#include <QIcon>
#include <QPixmap>

#include <string_view>

namespace tq {

// Number of entry icons (FileIconIndex gives 0..kEntryIconCount-1).
constexpr int kEntryIconCount = 10;

// The icon index of an entry name by its extension (upper-cased, with its dot):
// .LOG .TXT .DOC 1, .X 2, .EXE .COM 3, .INI 4, .GIF .JPG .BMP 5, .REG 6, .CRP 7,
// .DLL .SYS 8, .WAV .MP3 .AVI .MPG .MID 9, anything else (or no extension) 0.
// The extension is what follows the last dot of the last path component.
int FileIconIndex(std::string_view entryName);

// The 16 x 16 icon with the given index (0..9; other values give icon 0).
const QIcon& entryIcon(int index);

enum class ArchiveTool {
    AddFiles,
    Delete,
    AddFolder,
    Extract,
    Deselect,
    Settings,
    SaveSealed,
};

// The colour image of one of the archive window's own tools (22 x 22).
QPixmap archiveToolPixmap(ArchiveTool tool);

} // namespace tq
