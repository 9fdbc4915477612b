#include "card/pcsx2_index.h"

#include <cctype>
#include <charconv>

namespace card {

namespace {

bool IsFlowIndicator(char c) { return c == ',' || c == '{' || c == '}' || c == '[' || c == ']'; }

// A cursor over the text; every read moves it forward or fails.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : s_(text) {}
  bool AtEnd() const { return i_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }
  void SkipSpace(bool newlines) {
    while (!AtEnd()) {
      const char c = s_[i_];
      if (c == ' ' || c == '\t' || c == '\r' || (newlines && c == '\n')) {
        ++i_;
      } else if (c == '#' && (i_ == 0 || s_[i_ - 1] == ' ' || s_[i_ - 1] == '\n')) {
        while (!AtEnd() && s_[i_] != '\n') ++i_;  // a comment
      } else {
        break;
      }
    }
  }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  // A scalar: double-quoted, single-quoted, or plain up to ": ", a flow indicator in flow
  // context, or the end of the line.
  std::optional<std::string> Scalar(bool flow) {
    if (Take('"')) return DoubleQuoted();
    if (Take('\'')) return SingleQuoted();
    std::string out;
    while (!AtEnd()) {
      const char c = s_[i_];
      if (c == '\n' || (flow && IsFlowIndicator(c))) break;
      if (c == ':' && (i_ + 1 == s_.size() || s_[i_ + 1] == ' ' || s_[i_ + 1] == '\n' || s_[i_ + 1] == '\r' ||
                       (flow && IsFlowIndicator(s_[i_ + 1]))))
        break;
      if (c == '#' && !out.empty() && out.back() == ' ') break;
      out.push_back(c);
      ++i_;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\t' || out.back() == '\r')) out.pop_back();
    if (out.empty()) return std::nullopt;
    return out;
  }

 private:
  std::optional<std::string> DoubleQuoted() {
    std::string out;
    while (!AtEnd()) {
      char c = s_[i_++];
      if (c == '"') return out;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (AtEnd()) break;
      c = s_[i_++];
      switch (c) {
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case '0': out.push_back('\0'); break;
        case 'x': {
          unsigned v = 0;
          if (i_ + 2 > s_.size() || std::from_chars(s_.data() + i_, s_.data() + i_ + 2, v, 16).ptr != s_.data() + i_ + 2)
            return std::nullopt;
          out.push_back(static_cast<char>(v));
          i_ += 2;
          break;
        }
        default: out.push_back(c); break;  // \\ \" \/ and the rest: the character itself
      }
    }
    return std::nullopt;  // no closing quote
  }
  std::optional<std::string> SingleQuoted() {
    std::string out;
    while (!AtEnd()) {
      const char c = s_[i_++];
      if (c != '\'') {
        out.push_back(c);
      } else if (Peek() == '\'') {
        out.push_back('\'');
        ++i_;
      } else {
        return out;
      }
    }
    return std::nullopt;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

std::optional<std::int64_t> ToInteger(const std::string& text) {
  std::int64_t v = 0;
  const char* end = text.data() + text.size();
  auto r = std::from_chars(text.data(), end, v);
  if (r.ec != std::errc() || r.ptr != end) return std::nullopt;
  return v;
}

void SetField(IndexRecord& record, const std::string& key, const std::string& value) {
  auto v = ToInteger(value);
  if (!v) return;
  if (key == "order") record.order = v;
  else if (key == "timeCreated") record.created = v;
  else if (key == "timeModified") record.modified = v;
}

// {key: value, ...} after its "{".
bool FlowFields(Cursor& c, IndexRecord& record) {
  for (;;) {
    c.SkipSpace(true);
    if (c.Take('}')) return true;
    auto key = c.Scalar(true);
    c.SkipSpace(true);
    if (!key || !c.Take(':')) return false;
    c.SkipSpace(true);
    auto value = c.Scalar(true);
    if (!value) return false;
    SetField(record, *key, *value);
    c.SkipSpace(true);
    if (c.Take(',')) continue;
    if (c.Take('}')) return true;
    return false;
  }
}

std::optional<FolderIndex> ParseFlow(Cursor& c) {
  FolderIndex index;
  for (;;) {
    c.SkipSpace(true);
    if (c.Take('}')) break;
    auto key = c.Scalar(true);
    c.SkipSpace(true);
    if (!key || !c.Take(':')) return std::nullopt;
    c.SkipSpace(true);
    IndexRecord record;
    record.name = *key;
    if (c.Take('{')) {
      if (!FlowFields(c, record)) return std::nullopt;
    } else if (!c.Scalar(true)) {
      return std::nullopt;
    }
    index.records.push_back(std::move(record));
    c.SkipSpace(true);
    if (c.Take(',')) continue;
    if (c.Take('}')) break;
    return std::nullopt;
  }
  c.SkipSpace(true);
  if (!c.AtEnd()) return std::nullopt;
  return index;
}

// One "key:" line per record at the left margin, its fields indented below it.
std::optional<FolderIndex> ParseBlock(std::string_view text) {
  FolderIndex index;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    std::size_t indent = 0;
    while (indent < line.size() && line[indent] == ' ') ++indent;
    Cursor c(line.substr(indent));
    c.SkipSpace(false);
    if (c.AtEnd() || line.substr(indent) == "---" || line.substr(indent) == "...") continue;
    auto key = c.Scalar(false);
    c.SkipSpace(false);
    if (!key || !c.Take(':')) return std::nullopt;
    c.SkipSpace(false);
    if (indent == 0) {
      IndexRecord record;
      record.name = *key;
      if (c.Take('{') && !FlowFields(c, record)) return std::nullopt;
      index.records.push_back(std::move(record));
      continue;
    }
    if (index.records.empty()) return std::nullopt;
    if (auto value = c.Scalar(false)) SetField(index.records.back(), *key, *value);
  }
  return index;
}

// Plain when every character is one a plain YAML scalar may hold anywhere.
bool NeedsQuotes(std::string_view name) {
  if (name.empty() || name.front() == ' ' || name.back() == ' ' || name.front() == '-') return true;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '.' || c == '_' || c == '-' || c == '$' || c == ' ')) return true;
  }
  return false;
}

void AppendName(std::string& out, std::string_view name) {
  if (!NeedsQuotes(name)) {
    out += name;
    return;
  }
  out.push_back('"');
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (u < 0x20 || u >= 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 15]);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
}

}  // namespace

const IndexRecord* FolderIndex::Find(std::string_view name) const {
  for (const IndexRecord& r : records)
    if (r.name == name) return &r;
  return nullptr;
}

std::optional<FolderIndex> ParseFolderIndex(std::string_view text) {
  if (text.size() > kMaxIndexBytes) return std::nullopt;
  Cursor c(text);
  c.SkipSpace(true);
  if (c.Take('{')) return ParseFlow(c);
  return ParseBlock(text);
}

std::string WriteFolderIndex(const FolderIndex& index) {
  std::string out = "{";
  bool firstRecord = true;
  for (const IndexRecord& r : index.records) {
    if (!firstRecord) out += ", ";
    firstRecord = false;
    AppendName(out, r.name);
    out += ": {";
    bool firstField = true;
    auto field = [&](std::string_view key, const std::optional<std::int64_t>& v) {
      if (!v) return;
      if (!firstField) out += ", ";
      firstField = false;
      out += key;
      out += ": ";
      out += std::to_string(*v);
    };
    field("order", r.order);
    field("timeCreated", r.created);
    field("timeModified", r.modified);
    out += "}";
  }
  out += "}\n";
  return out;
}

}  // namespace card
