// Reading the active developer directory from the developer-directory tool.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/simruntime/sim_runtime.h"

extern char** environ;

namespace {

// Closes a descriptor once; -1 means already closed.
void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Reads until end of file. Errors other than EINTR end the read with what arrived.
std::string readToEnd(int fd) {
  std::string out;
  char buffer[16384];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return out;
    }
  }
}

// Starts `toolPath -p` with its standard output on a pipe and everything else inherited,
// and returns what it printed. The output is read to its end before the child is reaped:
// a child that prints more than a pipe holds blocks until it is read, so waiting first
// would hang both processes.
std::string runToolCapturingOutput(const std::string& toolPath) {
  int fds[2];
  if (::pipe(fds) != 0) return "";
  int readEnd = fds[0];
  int writeEnd = fds[1];
  // Close-on-exec so that other children do not inherit the pipe (a stray copy of the
  // write end would hold off the end of file); dup2 onto the tool's standard output
  // clears the flag there.
  ::fcntl(readEnd, F_SETFD, FD_CLOEXEC);
  ::fcntl(writeEnd, F_SETFD, FD_CLOEXEC);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd, STDOUT_FILENO);

  // The bridge ignores SIGPIPE, and an ignored signal stays ignored across exec; give the
  // tool the default action back.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::string path = toolPath;
  std::string option = "-p";
  char* argv[] = {path.data(), option.data(), nullptr};
  pid_t child = -1;
  int spawnError = ::posix_spawn(&child, path.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  closeFd(writeEnd);  // only the child writes; EOF arrives when it closes its copy

  std::string output;
  if (spawnError == 0) output = readToEnd(readEnd);
  closeFd(readEnd);
  if (spawnError == 0) {
    // The exit status does not matter; the child only has to be reaped.
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  return output;
}

// Decodes the code point starting at text[i] in valid UTF-8 and returns its length.
size_t decodeAt(std::string_view text, size_t i, char32_t& codePoint) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
  unsigned char lead = byte(0);
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  codePoint = lead & (0xFF >> (length + 1));
  for (size_t k = 1; k < length; ++k) codePoint = (codePoint << 6) | (byte(k) & 0x3F);
  return length;
}

// Foundation's white space and line breaks: tab, the line breaks U+000A to U+000D and
// U+0085, and the Unicode separators (categories Zs, Zl, Zp).
bool isWhitespaceOrNewline(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

}  // namespace

bool _isValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t length;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, minimum = 0x10000;
    } else {
      return false;  // stray continuation byte, overlong 2-byte lead, or past U+10FFFF
    }
    if (bytes.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    char32_t codePoint;
    decodeAt(bytes, i, codePoint);
    if (codePoint < minimum || codePoint > 0x10FFFF) return false;
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return false;
    i += length;
  }
  return true;
}

std::string _trimWhitespaceAndNewlines(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    char32_t c;
    size_t length = decodeAt(text, begin, c);
    if (!isWhitespaceOrNewline(c)) break;
    begin += length;
  }
  size_t end = text.size();
  while (end > begin) {
    size_t start = end - 1;  // back up to the lead byte of the last code point
    while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    char32_t c;
    decodeAt(text, start, c);
    if (!isWhitespaceOrNewline(c)) break;
    end = start;
  }
  return std::string(text.substr(begin, end - begin));
}

std::string xcodeDevDirFromTool(const std::string& toolPath) {
  std::string output = runToolCapturingOutput(toolPath);
  if (!_isValidUtf8(output)) return kDefaultDeveloperDir;
  return _trimWhitespaceAndNewlines(output);
}
