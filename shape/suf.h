#pragma once
// .suf shape files: the writer and the reader.

#include <memory>
#include <string>

#include "shape/shape.h"

namespace vesk {

// Writes chain (may be null: an empty file) to fileName (a path in the
// platform's encoding). Lines end in CR LF; names are written as raw bytes.
// The file is written to a temporary file in the same folder and renamed over
// fileName only when complete, so a failed save leaves an existing file as it
// was; an existing file that may not be written is refused, not replaced. A
// device or a pipe is written through itself.
// Returns true when the whole file was written; on failure returns false,
// removes the temporary file and sets SufError to a message naming the file.
// A name that would not read back as itself (shape/sufnames.h) is refused
// before anything is written, with SufError naming it. Clears SufError when
// it starts. Does not change the model.
bool SaveSuf(const std::string& fileName, const TVESK_Object* chain);

// Writes the file's text, exactly as SaveSuf writes it, to an open descriptor
// (standard output, a pipe) in big chunks, without holding the whole text.
// Returns false when a write fails, with SufError naming `name`, or, before
// writing anything, for a name that would not read back.
bool WriteSuf(int fd, const std::string& name, const TVESK_Object* chain);

// SaveSuf and WriteSuf for callers that take failures as exceptions: they
// throw talorin::Error with the text SaveSuf would put into SufError, as
// UTF-8 (kind BadInput for a name that would not read back, Io for a failed
// write, the file name as it is), and leave SufError alone.
void SaveSufFile(const std::string& fileName, const TVESK_Object* chain);
void WriteSufFile(int fd, const std::string& name, const TVESK_Object* chain);

// The file's text, exactly as SaveSuf writes it (for tests). Throws
// talorin::Error with the message for a name that would not read back.
std::string SufText(const TVESK_Object* chain);

// Reads fileName into a new chain, which the caller owns (FreeSuf). Returns
// null with SufError empty for a file without any "obj"; null with SufError set
// to the line-numbered message for a format, grammar or out-of-memory failure.
// Throws talorin::Error, after releasing what was read, for a number that does
// not convert ("'<token>' は浮動小数点数ではありません"), a file that cannot be
// opened, or a read error. Each call keeps its own reader state.
TVESK_Object* LoadSuf(const std::string& fileName);

// A chain that FreeSuf releases.
struct FreeSufChain {
    void operator()(TVESK_Object* chain) const { FreeSuf(chain); }
};
using SufChain = std::unique_ptr<TVESK_Object, FreeSufChain>;

// LoadSuf for callers that take failures as exceptions: null only for a file
// without any "obj"; every failure throws talorin::Error with the text LoadSuf
// gives, as UTF-8: kind Malformed for the format and grammar messages,
// OutOfMemory for running out of memory, BadInput for a number, Io for a file
// that cannot be opened or read. Leaves SufError alone.
SufChain ReadSufFile(const std::string& fileName);

} // namespace vesk
