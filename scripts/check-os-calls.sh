#!/usr/bin/env bash
# Fails when an operating-system header or call appears outside platform/.
#
#   scripts/check-os-calls.sh [FILE...]   the given files, else every C/C++ file git tracks
#
# platform/ is the one place that talks to the system; the layers above call
# it, so that a port touches one folder and the Windows cross-compile shows
# what is missing. tests/ is left out: tests drive the system to build the
# conditions they check (child processes, permissions, broken files).
# Comments and string literals are not read, and the standard library
# (std::filesystem, <cstdio>, <csignal>, streams) is not the system here;
# reading the environment is, whichever way it is spelled.
set -euo pipefail
cd "$(dirname "$0")/.."

# Files whose system calls are still to move into platform/, each with the
# platform function that replaces them. Remove a line once its file is clean.
allowed=(
  imageio/Streams.cpp    # TFileStream's writing and its read fallback: the publishing of platform/
  imageio/Graphic.cpp    # WriteBytesToFile's removal of a partial file: the publishing of platform/
)

check() {
  perl -e '
    my %allowed = map { $_ => 1 } split / /, shift @ARGV;
    my $headers = qr{unistd\.h|fcntl\.h|sys/[\w/]+\.h|windows\.h|win\w*\.h|shlobj\.h|shellapi\.h|io\.h|direct\.h
                    |dlfcn\.h|pwd\.h|grp\.h|dirent\.h|termios\.h|poll\.h|pthread\.h|sched\.h|spawn\.h|malloc\.h
                    |cpuid\.h|intrin\.h|mach/[\w/]+\.h|linux/[\w/]+\.h}x;
    # Names that are only ever the system: flagged however they are called.
    my $calls = qr{mmap|munmap|madvise|mprotect|msync|mlock|munlock|sysconf|isatty|_isatty|fstat|lstat|fstatat
                  |flock|fsync|fdatasync|ftruncate|mkstemps?|mkdtemp|readlink|symlink|linkat|renameat2?|unlinkat
                  |openat|dup2|fcntl|ioctl|getpid|getppid|getuid|geteuid|getpwuid(?:_r)?|getpwnam|uname|fork
                  |execv[pe]*|execl[pe]*|waitpid|pipe2|getrlimit|setrlimit|getrusage|nanosleep|usleep
                  |sched_\w+|pthread_\w+|posix_\w+|dlopen|dlsym|dlclose|opendir|readdir|closedir|statvfs
                  |inotify_\w+|epoll_\w+|chmod|fchmod|chown|getcwd|chdir|unlink
                  |__get_cpuid\w*|__cpuid\w*|__builtin_cpu_\w+|_xgetbv|_may_i_use_cpu_feature
                  |[A-Z][a-z]\w*[a-z]W|GetLastError|LocalFree|VirtualAlloc|VirtualFree|GlobalMemoryStatusEx
                  |GetSystemInfo|IsProcessorFeaturePresent|GetFileVersionInfo\w*|VerQueryValue\w*
                  |MultiByteToWideChar|WideCharToMultiByte|_get_osfhandle|_fileno|_wfopen|_wopen}x;
    # Short names shared with members and the standard library: flagged when
    # called in the global namespace, ::open(...).
    my $global = qr{open|close|read|write|stat|link|kill|wait|sleep|pipe|dup|select|poll|mkdir|rmdir|sync|access};
    my $environment = qr{getenv|secure_getenv|_wgetenv|putenv|setenv|unsetenv|_putenv\w*|environ};
    my $constants = qr{O_(?:RDONLY|WRONLY|RDWR|CREAT|EXCL|CLOEXEC|DIRECTORY|NOFOLLOW|NONBLOCK|TRUNC|APPEND|TMPFILE)
                      |MAP_(?:PRIVATE|SHARED|ANONYMOUS|FAILED|FIXED)|PROT_(?:READ|WRITE|EXEC|NONE)|MADV_\w+|_SC_\w+
                      |STD(?:IN|OUT|ERR)_FILENO|LOCK_(?:SH|EX|NB|UN)|S_IS(?:REG|DIR|LNK|FIFO|SOCK|CHR|BLK)
                      |AT_FDCWD|RENAME_NOREPLACE|INVALID_HANDLE_VALUE|HKEY_\w+|MAX_PATH}x;
    my $bad = 0;
    for my $file (@ARGV) {
      next if $file =~ m{^(platform|tests)/};
      open(my $in, "<", $file) or die "$file: $!\n";
      local $/;
      my $text = <$in>;
      close $in;
      # Comments and literals blanked, line breaks kept, so line numbers hold.
      my @lines = split /\n/, $text, -1;
      $text =~ s{(//[^\n]*|/\*.*?\*/)|("(?:\\.|[^"\\\n])*")|(\x27(?:\\.|[^\x27\\\n])*\x27)}{
        defined $1 ? "\n" x ($1 =~ tr/\n//) : defined $2 ? "\"\"" : "\x27 \x27" }gse;
      my @code = split /\n/, $text, -1;
      my $found = 0;
      for my $i (0 .. $#code) {
        my $line = $code[$i];
        my $why;
        if ($line =~ /^\s*#\s*include\b/ && $lines[$i] =~ /include\s*[<"]($headers)[>"]/) {
          $why = "system header <$1>";
        } elsif ($line =~ /(?<![\w.])(?<!->)(?<!\w::)(?:::)?\b($calls)\s*\(/) {
          $why = "system call $1";
        } elsif ($line =~ /(?<![\w.])(?<!->)::($global)\s*\(/) {
          $why = "system call ::$1";
        } elsif ($line =~ /\b($environment)\b/) {
          $why = "environment read $1";
        } elsif ($line =~ /\b($constants)\b/) {
          $why = "system constant $1";
        } elsif ($line =~ /\b(?:asm|__asm__)\b/ && $lines[$i] =~ /\b(cpuid|xgetbv)\b/) {
          $why = "processor probe $1";
        }
        next unless $why;
        $found = 1;
        next if $allowed{$file};
        printf "%s:%d: %s outside platform/\n", $file, $i + 1, $why;
        $bad = 1;
      }
      print STDERR "note: $file is clean now: take it off the list in scripts/check-os-calls.sh\n"
        if $allowed{$file} && !$found;
    }
    exit $bad;
  ' "${allowed[*]}" "$@"
}

# The check on two small files first: a line of each kind it must find, and
# the look-alikes it must let pass.
self_test() {
  local dir found
  dir=$(mktemp -d)
  cat > "$dir/dirty.cpp" <<'END'
#include <sys/mman.h>
#include "unistd.h"
void* p = mmap(nullptr, 1, 3, 0, -1, 0);
int fd = ::open(name, 0);
const char* home = std::getenv("HOME");
bool avx = __builtin_cpu_supports("avx2");
int flags = O_RDONLY | O_CLOEXEC;
END
  cat > "$dir/clean.cpp" <<'END'
// mmap( and ::open( in a comment; #include <unistd.h>
#include <csignal>
#include <cstdio>
#include "raster/Stretch.h"
void F(std::istream& in, std::FILE* file, TStream& stream)
{
    const char* text = "unistd.h ::open( getenv";
    const char quote = '"';
    in.read(buffer, 4); stream.Write(buffer, 4); file->close(); OpenKey("\\SOFTWARE\\");
    std::filesystem::remove(path); std::rename(a, b); std::fclose(std::fopen("x", "rb"));
    auto open = [] {}; open(); int read = 0;
}
END
  found=$( (check "$dir/dirty.cpp" "$dir/clean.cpp" || true) | sed -E 's|^.*/([a-z]+\.cpp):([0-9]+):.*|\1:\2|' | tr '\n' ' ')
  rm -rf "$dir"
  if [ "$found" != "dirty.cpp:1 dirty.cpp:2 dirty.cpp:3 dirty.cpp:4 dirty.cpp:5 dirty.cpp:6 dirty.cpp:7 " ]; then
    echo "check-os-calls: the check itself is broken; it found: $found" >&2
    exit 1
  fi
}

self_test
if [ "$#" -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
fi
if check "${files[@]}"; then
  echo "check-os-calls: ${#files[@]} files, no system call outside platform/"
else
  echo "check-os-calls: move these into platform/ and call them from there" >&2
  exit 1
fi
