#pragma once
// What the playlist benchmark feeds the main window: a generated folder tree for the
// folder-tree add, and a shuffled list of paths for the sorted add of many files.
#include <cstdint>
#include <string>
#include <vector>

namespace kino::bench {

// top folders x subfolders each x files in each subfolder; the files sit only in the
// subfolders. One file in `mediaEvery` is media, with its extension taken in turn
// from the seven kinds in mixed letter case; the others are text and pictures.
struct TreeLayout {
    int topFolders = 50;
    int subFolders = 50;
    int filesPerFolder = 20;
    int mediaEvery = 10;

    int Files() const { return topFolders * subFolders * filesPerFolder; }
    int Folders() const { return topFolders * subFolders; }
    int MediaFiles() const;
    std::string Describe() const; // one line, also kept in the tree's stamp file
};

// Makes the tree under `root` unless a complete one of the same layout is there
// already (the stamp file is written last). Refuses a `root` that holds anything
// else, so a mistyped path is never filled or emptied. Empty on success, else the
// reason.
std::string EnsureMediaTree(const std::string& root, const TreeLayout& layout, bool& reused);

// `count` distinct paths like "/home/user/media/folder012/clip01234.avi", some parts
// in other letter case, in an order shuffled with a fixed seed.
std::vector<std::string> ShuffledPlaylistPaths(int count, std::uint32_t seed = 20240607u);

// VmRSS of this process from /proc/self/status, in KiB; -1 when unreadable.
long ResidentKb();

} // namespace kino::bench
