// Writes a deterministic, log-like UTF-8 corpus to standard output, for the
// benchmark: mixed case, some accented words, a few percent of the records
// holding both search terms and some holding one of them.
//
//   txtshade_corpus [--size BYTES] [--seed N] [--line-length BYTES] [--one-line]
//                   [--terms A,B] [--both PERCENT] [--one PERCENT] [--lf]
//
// --size          exact output size (suffixes k, M, G: powers of 1024); 100M by default
// --seed          the generator's seed; the same seed gives the same bytes everywhere
// --line-length   at least this many bytes per line: records are joined by a blank
//                 until the line is long enough (0, the default: one record a line)
// --one-line      the whole output is one line (only the last two bytes end it)
// --terms         the two terms planted, in varying case; "timeout,réseau" by default
// --both, --one   the share of records holding both terms (3) and exactly one (10)
// --lf            lines end in LF alone; CR LF by default
//
// The vocabulary holds neither term, so a record holds a term only where one
// was planted. The last line is cut, on a character boundary, to give the
// exact size, and always ends with a line end.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// SplitMix64: small, fast and the same on every platform and compiler.
struct Random {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1 (the slight bias of the modulo does not matter here).
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }
};

const char* const Levels[] = {"INFO ", "INFO ", "INFO ", "DEBUG", "WARN ", "ERROR", "TRACE"};

const char* const Components[] = {"http",  "db.pool", "cache", "Scheduler", "auth", "Fichiers",
                                  "queue", "mailer",  "Sync",  "gc",        "DNS",  "Réplication"};

// Log words in mixed case, a fifth of them accented or not Latin. None holds
// a default term, in any case.
const char* const Words[] = {
    "request",     "Request",   "REQUEST", "connection",  "closed",   "opened",    "user",
    "session",     "Session",   "expired", "retry",       "Retry",    "after",     "failed",
    "FAILED",      "succeeded", "bytes",   "read",        "written",  "from",      "to",
    "client",      "Client",    "server",  "SERVER",      "cache",    "miss",      "hit",
    "query",       "Query",     "rows",    "returned",    "in",       "the",       "of",
    "upstream",    "handshake", "TLS",     "certificate", "valid",    "until",     "queue",
    "length",      "worker",    "Worker",  "started",     "stopped",  "heartbeat", "lag",
    "disk",        "usage",     "above",   "threshold",   "GET",      "POST",      "/api/v2/items",
    "/index.html", "status",    "200",     "404",         "503",      "latency",   "p99",
    "données",     "Données",   "DONNÉES", "échec",       "Échec",    "ÉCHEC",     "mémoire",
    "requête",     "Requête",   "délai",   "système",     "Système",  "côté",      "fenêtre",
    "déjà",        "à",         "été",     "créé",        "supprimé", "Größe",     "Straße",
    "über",        "ÜBER",      "naïve",   "façade",      "Ærø",      "señal",     "ошибка",
    "Сервер",      "σφάλμα",    "ΔΙΚΤΥΟ",  "job",         "id",       "node",      "leader",
    "elected",     "term",      "commit",  "index",       "snapshot", "taken",     "pool",
    "exhausted",   "waiting",   "for",     "lock",        "acquired", "released",  "shard",
};

constexpr std::size_t WordCount = sizeof Words / sizeof Words[0];

// A term in one of the case forms a log might use: as given, lower, upper or
// capitalised (ASCII letters and the two-byte Latin-1 letters only).
std::string CaseVariant(const std::string& term, std::uint32_t form) {
  std::string text = term;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    bool upper = form == 2 || (form == 3 && i == 0);
    bool lower = form == 1 || (form == 3 && i > 0);
    if (c < 0x80) {
      if (upper && c >= 'a' && c <= 'z') text[i] = static_cast<char>(c - 32);
      if (lower && c >= 'A' && c <= 'Z') text[i] = static_cast<char>(c + 32);
    } else if (c == 0xC3 && i + 1 < text.size()) {
      // U+00C0..U+00FF: small letters have bit 0x20 of the second byte set.
      auto d = static_cast<unsigned char>(text[i + 1]);
      if (upper && d >= 0xA0 && d != 0xB7 && d != 0xBF) text[i + 1] = static_cast<char>(d - 0x20);
      if (lower && d >= 0x80 && d <= 0x9E && d != 0x97) text[i + 1] = static_cast<char>(d + 0x20);
      ++i;
    }
  }
  return text;
}

std::uint64_t ParseSize(const char* text) {
  char* end = nullptr;
  std::uint64_t value = std::strtoull(text, &end, 10);
  if (*end == 'k' || *end == 'K') value <<= 10;
  if (*end == 'm' || *end == 'M') value <<= 20;
  if (*end == 'g' || *end == 'G') value <<= 30;
  return value;
}

[[noreturn]] void Usage() {
  std::fputs(
      "usage: txtshade_corpus [--size BYTES] [--seed N] [--line-length BYTES] [--one-line]\n"
      "                       [--terms A,B] [--both PERCENT] [--one PERCENT] [--lf]\n",
      stderr);
  std::exit(2);
}

class Generator {
 public:
  Generator(std::uint64_t seed, std::string termA, std::string termB, unsigned both, unsigned one)
      : random_{seed}, termA_(std::move(termA)), termB_(std::move(termB)), both_(both), one_(one) {}

  // Appends one record, without a line end.
  void AppendRecord(std::string& out) {
    char header[96];
    std::uint64_t n = ++count_;
    int length = std::snprintf(
        header, sizeof header, "2026-%02u-%02uT%02u:%02u:%02u.%03uZ %s [%s] host=srv-%03u pid=%u ",
        1 + random_.Below(12), 1 + random_.Below(28), random_.Below(24), random_.Below(60),
        random_.Below(60), random_.Below(1000), Levels[random_.Below(7)],
        Components[random_.Below(12)], random_.Below(200), 1000 + random_.Below(60000));
    out.append(header, static_cast<std::size_t>(length));
    std::uint32_t roll = random_.Below(100);
    bool plantA = roll < both_ + one_ / 2 + one_ % 2;
    bool plantB = roll < both_ || (roll >= both_ + one_ / 2 + one_ % 2 && roll < both_ + one_);
    std::uint32_t words = 4 + random_.Below(10);
    std::uint32_t placeA = plantA ? random_.Below(words) : words;
    std::uint32_t placeB = plantB ? random_.Below(words) : words;
    for (std::uint32_t w = 0; w < words; ++w) {
      if (w == placeA) AppendWord(out, CaseVariant(termA_, random_.Below(4)));
      if (w == placeB) AppendWord(out, CaseVariant(termB_, random_.Below(4)));
      AppendWord(out, Words[random_.Below(WordCount)]);
    }
    length = std::snprintf(header, sizeof header, "req=0x%08llx took=%ums",
                           static_cast<unsigned long long>(n * 2654435761u & 0xFFFFFFFFu),
                           random_.Below(5000));
    out.append(header, static_cast<std::size_t>(length));
  }

 private:
  static void AppendWord(std::string& out, const std::string& word) {
    out += word;
    out += ' ';
  }

  Random random_;
  std::string termA_, termB_;
  unsigned both_, one_;
  std::uint64_t count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t size = 100ull << 20, seed = 2026, lineLength = 0;
  bool oneLine = false;
  std::string lineEnd = "\r\n", termA = "timeout", termB = "réseau";
  unsigned both = 3, one = 10;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    bool hasValue = i + 1 < argc;
    if (option == "--one-line") {
      oneLine = true;
    } else if (option == "--lf") {
      lineEnd = "\n";
    } else if (!hasValue) {
      Usage();
    } else if (option == "--size") {
      size = ParseSize(argv[++i]);
    } else if (option == "--seed") {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (option == "--line-length") {
      lineLength = ParseSize(argv[++i]);
    } else if (option == "--both") {
      both = static_cast<unsigned>(std::atoi(argv[++i]));
    } else if (option == "--one") {
      one = static_cast<unsigned>(std::atoi(argv[++i]));
    } else if (option == "--terms") {
      std::string terms = argv[++i];
      std::size_t comma = terms.find(',');
      if (comma == std::string::npos) Usage();
      termA = terms.substr(0, comma);
      termB = terms.substr(comma + 1);
    } else {
      Usage();
    }
  }
  if (both + one > 100 || termA.empty() || termB.empty()) Usage();
  if (oneLine) lineLength = size;

  Generator generator(seed, termA, termB, both, one);
  std::string line, chunk;
  chunk.reserve(1 << 20);
  std::uint64_t written = 0;
  while (written < size) {
    // A long line is built and written piece by piece, so a 100 MB line
    // needs no 100 MB of memory.
    std::uint64_t lineSoFar = 0;
    for (;;) {
      line.clear();
      if (lineSoFar > 0) line += ' ';
      generator.AppendRecord(line);
      lineSoFar += line.size();
      bool lineDone = lineSoFar + lineEnd.size() >= lineLength;
      std::uint64_t room = size - written - chunk.size();
      const std::size_t endLength = lineEnd.size();
      if (line.size() + 2 * endLength >= room) {
        // The last line, as no other would fit after it: cut or padded with
        // blanks to give exactly `size` bytes, never cut inside a UTF-8 sequence.
        std::size_t body = room > endLength ? static_cast<std::size_t>(room) - endLength : 0;
        std::size_t keep = std::min(body, line.size());
        while (keep > 0 && keep < line.size() &&
               (static_cast<unsigned char>(line[keep]) & 0xC0) == 0x80)
          --keep;
        line.resize(keep);
        line.append(body - keep, ' ');
        line += lineEnd.substr(endLength - std::min<std::size_t>(endLength, room));
        chunk += line;
        lineDone = true;
      } else {
        chunk += line;
        if (lineDone) chunk += lineEnd;
      }
      if (chunk.size() >= (1u << 20) || written + chunk.size() == size) {
        if (std::fwrite(chunk.data(), 1, chunk.size(), stdout) != chunk.size()) return 1;
        written += chunk.size();
        chunk.clear();
      }
      if (lineDone || written == size) break;
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
