// CodePage: conversion between UTF-8 text and Windows code pages, with
// the C library's iconv.
//
// Code pages are named by their Windows numbers: 1250 … 1258 and the OEM
// pages (437, 850, …) map to iconv's "CP<n>" (1252 is "WINDOWS-1252"),
// 20127 to ASCII, 28591 … 28605 to ISO-8859-n, 1200 to UTF-16LE, 1201 to
// UTF-16BE and 65001 to UTF-8. A number iconv does not know raises Error
// (0x80070057) naming it.
//
// Bad input never crashes and never stops a conversion:
// - a character the target code page lacks becomes "?" and clears the
//   lossless flag;
// - a byte of the UTF-8 input that does not start a valid sequence counts
//   as one such character: one "?" (U+FFFD in UTF-16) per bad byte;
// - a byte the source code page does not define reads as U+FFFD.
//
// The ANSI code page of text files: a Linux host has none, so it is a
// setting of the site, the key "AnsiCodePage" of section "TEXTFILES" in
// QUILLON_SITE/SiteConfiguration.xml (a Windows code page number, for
// example 1250 for Central European partners). Without a site or the key,
// the environment variable QUILLON_ANSI_CODEPAGE may name one (a value that
// is no number is ignored); otherwise it is the portal's own, Western
// European (1252).
//
// Thread-safe: every call opens its own conversion descriptor.
#pragma once

#include <string>

namespace quillon {

inline constexpr const char* kAnsiCodePageVariable = "QUILLON_ANSI_CODEPAGE";
inline constexpr const char* kAnsiCodePageSection = "TEXTFILES";
inline constexpr const char* kAnsiCodePageKey = "AnsiCodePage";

// UTF-8 to the code page; `lossless` (may be null) tells whether every
// character had a counterpart.
std::string ToCodePage(const std::string& utf8, int codePage, bool* lossless = nullptr);
// Bytes in the code page to UTF-8.
std::string FromCodePage(const std::string& bytes, int codePage);
// UTF-8 to UTF-16 little-endian code units (no byte-order mark).
std::string ToUtf16LE(const std::string& utf8);
// UTF-16 little-endian code units (a leading byte-order mark is dropped) to UTF-8.
std::string FromUtf16LE(const std::string& bytes);
// The site's ANSI code page (see above), read at every call. A site setting
// that is not a positive number raises Error hr::kInvalidArg naming it.
int SystemAnsiCodePage();
// Whether the bytes are well-formed UTF-8.
bool IsUtf8(const std::string& bytes);

}  // namespace quillon
