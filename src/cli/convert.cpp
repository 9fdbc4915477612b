// convert and batch: a save written in another (or its own) format.
#include <algorithm>
#include <atomic>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <system_error>
#include <thread>

#include "cli/command.h"
#include "formats/messages.h"
#include "io/output_file.h"
#include "formats/registry.h"
#include "formats/write_save.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/path.h"

namespace cli {

namespace {

struct ConvertOptions {
  std::string source;
  std::string target;
  OpenOptions open;
};

struct BatchOptions {
  std::string to;  // the target's extension
  std::string outDir;
  unsigned jobs = 0;  // 0: by the rule in RunBatch
  bool force = false;
  bool yes = false;
  bool json = false;
  std::vector<std::string> inputs;
};

// A save file converted to `family` in one pass where its family and the target's allow
// it (see ConvertInOnePass): the message of its failed load or write, empty on success;
// none for the usual load and write.
std::optional<std::string> WriteInOnePass(const card::Identified& source, const std::string& target,
                                          const FormatFamily& family, Console& console, bool yes) {
  const FormatFamily* from = source.family;
  if (!from || !source.source) return std::nullopt;
  std::unique_ptr<CSaveGame> reader = from->create();
  LoadAnswers answers;
  std::optional<OnePassConversion> done = ConvertInOnePass(*reader, *source.source, family, target, answers);
  // A question is asked before anything is written: answered, the conversion starts again.
  while (done && done->loaded == LoadResult::kNeedsAnswer && reader->question &&
         !answers.count(reader->question->text)) {
    answers[reader->question->text] = AnswerQuestion(*reader->question, console, yes);
    done = ConvertInOnePass(*reader, *source.source, family, target, answers);
  }
  if (!done) return std::nullopt;
  if (done->loaded != LoadResult::kOk) return LoadFailure(*reader, done->loaded, source, from, /*byAs=*/false);
  return WriteFailure(done->write);
}

std::optional<int> RunOnePass(const card::Identified& source, const ConvertOptions& o, Console& console) {
  const FormatFamily* from = o.open.as.empty() ? source.family : nullptr;
  const FormatFamily* to = from ? TargetFamilyFor(ExtensionOf(o.target), *from->create()) : nullptr;
  const std::optional<std::string> error = to ? WriteInOnePass(source, o.target, *to, console, o.open.yes)
                                              : std::nullopt;
  if (!error) return std::nullopt;
  if (error->empty()) return kExitOk;
  console.Error(*error);
  return kExitFailed;
}

int RunConvert(const ConvertOptions& o, Console& console) {
  // Refuse an unknown target before the source is even read.
  if (!TargetFamilyForExtension(ExtensionOf(o.target)) &&
      (!o.open.as.empty() || FamilyForExtension(ExtensionOf(o.source)))) {
    console.Error(messages::kUnknownFileType);
    return kExitFailed;
  }
  // A save on a card (CARD:FOLDER) is opened the usual way; a file is opened once.
  const std::optional<CardSaveName> onCard = io::Exists(o.source) ? std::nullopt : SplitCardSaveName(o.source);
  std::unique_ptr<CSaveGame> opened;
  if (onCard && io::Exists(onCard->card)) {
    opened = OpenSaveOrReport(o.source, console, o.open);
  } else {
    card::Identified source = card::Identify(o.source);
    if (std::optional<int> done = RunOnePass(source, o, console)) return *done;
    Opened loaded = OpenSave(std::move(source), console, o.open);
    if (!loaded.save) console.Error(loaded.error);
    opened = std::move(loaded.save);
  }
  if (!opened) return kExitFailed;
  std::string error = WriteSave(*opened, o.target, console);
  if (!error.empty()) {
    console.Error(error);
    return kExitFailed;
  }
  return kExitOk;
}

enum class Status { kPending, kConverted, kSkipped, kFailed };

struct Job {
  std::string input;
  std::string output;
  Status status = Status::kPending;
  std::string reason;
  std::string renamedFrom;  // the output name it would have had, when it had to change
};

const char* StatusName(Status s) {
  switch (s) {
    case Status::kConverted: return "converted";
    case Status::kSkipped: return "skipped";
    case Status::kFailed: return "failed";
    default: return "pending";
  }
}

// A file under a named folder is an input when a family opens it: by its extension, or,
// for a family without one (raw PS1 saves), by its contents.
bool Readable(const std::string& path) {
  if (const FormatFamily* named = FamilyForExtension(ExtensionOf(path)); named && !named->Can(kNoExtension))
    return true;
  const card::Identified what = card::Identify(path);
  return what.seenFamily && what.seenFamily->Can(kNoExtension);
}

// How two spellings of one path compare: absolute, normalised, in any letter case.
std::string PathKey(const std::string& path) {
  return io::FoldAscii(io::AbsolutePath(path));
}

// The inputs: files as named, and the readable files under named folders (sorted, so that
// runs are repeatable). A file reached twice counts once.
std::vector<Job> CollectInputs(const std::vector<std::string>& inputs) {
  std::vector<Job> jobs;
  std::set<std::string> seen;
  auto add = [&](const std::string& path) {
    if (seen.insert(PathKey(path)).second) jobs.push_back(Job{path, {}, Status::kPending, {}, {}});
  };
  for (const std::string& input : inputs) {
    if (!io::IsFolder(input)) {
      add(input);
      continue;
    }
    std::vector<std::string> found;
    io::WalkTree(input, [&found](const io::TreeItem& tree) {
      if (tree.item.kind == io::PathKind::kFile && Readable(tree.item.path)) found.push_back(tree.item.path);
      return io::Walk::kGo;
    });
    std::sort(found.begin(), found.end());
    for (const std::string& f : found) add(f);
  }
  return jobs;
}

// The name a device takes the family's file for this save under (a PS3 export's), read
// from the save itself; none when it doesn't load (its conversion then says why) or its
// folder can't give a name (the write warns).
std::optional<std::string> RequiredName(const std::string& input, const FormatFamily& family,
                                        Console& console, bool yes) {
  const card::Identified what = card::Identify(input);
  std::unique_ptr<CSaveGame> save = what.family ? what.family->create() : nullptr;
  if (!save || !what.source) return std::nullopt;
  // Answered as the conversion answers them, without the notes: it gives those.
  if (LoadAnswering(*save, what.source, console, yes, /*report=*/false) != LoadResult::kOk) return std::nullopt;
  return family.requiredName(save->EntryAt(-1)->Name());
}

// Gives each job its output name: the input's name with the new extension, in outDir or
// beside the input; for a PS3 export the name a PS3 takes (each input is read once more
// for its folder name). Two inputs that would meet on one name get distinct names ("-2",
// "-3", ...) with a warning; an input that already is its own output is skipped.
void AssignOutputs(std::vector<Job>& jobs, const BatchOptions& o, const FormatFamily& family,
                   Console& console) {
  std::map<std::string, std::string> claimedBy;  // output key -> the input writing it
  for (Job& job : jobs) {
    if (!FamilyToOpen(job.input)) {
      job.status = Status::kFailed;
      job.reason = messages::kUnknownFileType;
      continue;
    }
    const std::string dir = o.outDir.empty() ? io::ParentOf(job.input) : o.outDir;
    std::string stem(io::StemOf(io::FileNameOf(job.input)));
    // --to names an extension, or a family (raw has no extension).
    std::string extension = TargetFamilyForExtension(o.to) ? o.to : std::string(family.OwnExtension());
    if (family.requiredName) {
      if (std::optional<std::string> name = RequiredName(job.input, family, console, o.yes)) {
        const std::size_t dot = name->rfind('.');
        stem = name->substr(0, dot);
        extension = dot == std::string::npos ? std::string() : name->substr(dot + 1);
      }
    }
    auto outputFor = [&](const std::string& s) {
      return io::JoinPath(dir, extension.empty() ? s : s + "." + extension);
    };
    std::string output = outputFor(stem);
    if (PathKey(output) == PathKey(job.input) || io::SameFile(output, job.input)) {
      job.output = output;
      job.status = Status::kSkipped;
      job.reason = "already a ." + o.to + " file";
      continue;
    }
    std::string wanted = output;
    for (int n = 2; claimedBy.count(PathKey(output)) != 0; ++n)
      output = outputFor(stem + "-" + std::to_string(n));
    if (output != wanted) {
      job.renamedFrom = wanted;
      auto other = claimedBy.find(PathKey(wanted));
      console.Note("warning: " + Quoted(job.input) +
                   (other != claimedBy.end() ? " and " + Quoted(other->second) : std::string()) +
                   " would both be written as " + Quoted(wanted) + "; " + Quoted(job.input) +
                   " is written as " + Quoted(output));
    }
    claimedBy[PathKey(output)] = job.input;
    job.output = output;
    if (!o.force && io::Exists(output)) {
      job.status = Status::kSkipped;
      job.reason = "exists (--force overwrites it)";
    }
  }
}

void Convert(Job& job, const FormatFamily& family, Console& console, bool yes) {
  card::Identified source = card::Identify(job.input);
  if (std::optional<std::string> error = WriteInOnePass(source, job.output, family, console, yes)) {
    job.status = error->empty() ? Status::kConverted : Status::kFailed;
    job.reason = *error;
    return;
  }
  Opened opened = OpenSave(std::move(source), console, {yes, {}});
  if (!opened.save) {
    job.status = Status::kFailed;
    job.reason = opened.error;
    return;
  }
  // An output is never its input, so nothing here is written in place.
  const bool converted = opened.save->kind != family.kind;
  SaveWrite outcome = WriteSaveAs(*opened.save, family, job.output);
  if (outcome.ok()) {
    job.status = Status::kConverted;
    NoteWriteCaveats(*opened.save, family, job.output, console, converted);
    return;
  }
  job.status = Status::kFailed;
  job.reason = WriteFailure(outcome);
}

std::string JobLine(const Job& job) {
  std::string line = std::string(StatusName(job.status)) + ": " + DisplayText(job.input);
  if (job.status == Status::kConverted) return line + " -> " + DisplayText(job.output);
  return line + ": " + job.reason;
}

// Progress on standard error: a bar redrawn in place on a terminal, else one line per file.
class Progress {
 public:
  Progress(Console& console, std::size_t total) : console_(console), total_(total) {}

  void Done(const Job& job) {
    std::lock_guard<std::mutex> guard(console_.lock);
    ++done_;
    if (!console_.errIsTerminal) {
      console_.err << JobLine(job) << '\n';
      return;
    }
    constexpr std::size_t kWidth = 30;
    std::size_t filled = total_ ? done_ * kWidth / total_ : kWidth;
    std::string name = DisplayText(io::FileNameOf(job.input));
    if (name.size() > 40) name = "..." + name.substr(name.size() - 37);
    console_.err << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] "
                 << done_ << '/' << total_ << ' ' << name << "\x1b[K";
    if (job.status == Status::kFailed) console_.err << '\n';  // keep failures on screen
    console_.err.flush();
  }

  void Finish() {
    std::lock_guard<std::mutex> guard(console_.lock);
    if (console_.errIsTerminal && done_ > 0) console_.err << "\r\x1b[K";
    console_.err.flush();
  }

 private:
  Console& console_;
  std::size_t total_;
  std::size_t done_ = 0;
};

int RunBatch(const BatchOptions& o, Console& console) {
  const FormatFamily* family = TargetFamilyForExtension(o.to);
  if (!family) family = FamilyNamed(o.to);
  if (!family || !family->Can(kWritesConversions)) {
    console.Error(messages::kUnknownFileType);
    return kExitUsage;
  }
  std::vector<Job> jobs = CollectInputs(o.inputs);
  if (!o.outDir.empty()) {
    if (!io::MakeFolders(o.outDir)) {
      console.Error(std::string(messages::kCannotWriteFile) + ": " + Quoted(o.outDir));
      return kExitFailed;
    }
  }
  AssignOutputs(jobs, o, *family, console);

  std::vector<Job*> pending;
  for (Job& job : jobs)
    if (job.status == Status::kPending) pending.push_back(&job);
  Progress progress(console, jobs.size());
  for (Job& job : jobs)
    if (job.status != Status::kPending) progress.Done(job);

  // Every output is a new file (an input is never its own output), so the outputs are
  // flushed together by one sync of each file system they went to, before the summary
  // reports them, rather than each on its own. Then nothing waits for the disk and one
  // conversion per processor keeps them all busy; more only contend for the output
  // folder's lock (1,000 small saves took half as long again with 8 at once as with 2
  // on two processors). Where that isn't possible each output is flushed as it is
  // written, and more conversions run than there are processors so the waits overlap.
  const bool deferFlush = io::CanSyncFileSystem();
  io::SetDeferredFlush(deferFlush);
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i = next++; i < pending.size(); i = next++) {
      Convert(*pending[i], *family, console, o.yes);
      progress.Done(*pending[i]);
    }
  };
#ifdef MORAVELT_PORTABLE
  work();  // the portable build starts no thread: one conversion at a time, whatever --jobs says
#else
  const unsigned cpus = std::max(1u, std::thread::hardware_concurrency());
  unsigned workers = o.jobs ? o.jobs : deferFlush ? cpus : std::max(8u, 2 * cpus);
  workers = static_cast<unsigned>(std::min<std::size_t>(workers, pending.size()));
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < workers; ++t) threads.emplace_back(work);
  if (workers > 0) work();
  for (std::thread& t : threads) t.join();
#endif
  io::SetDeferredFlush(false);
  if (deferFlush) {
    std::set<std::string> folders;
    for (const Job& job : jobs)
      if (job.status == Status::kConverted)
        folders.insert(io::JoinPath(io::ParentOf(job.output), "."));
    for (const std::string& folder : folders) {
      if (io::SyncFileSystemOf(folder)) continue;
      for (Job& job : jobs) {
        if (job.status != Status::kConverted) continue;
        job.status = Status::kFailed;
        job.reason = "the converted files could not be flushed to the disk";
      }
      break;
    }
  }
  progress.Finish();

  std::size_t converted = 0, skipped = 0, failed = 0;
  for (const Job& job : jobs) {
    if (job.status == Status::kConverted) ++converted;
    if (job.status == Status::kSkipped) ++skipped;
    if (job.status == Status::kFailed) ++failed;
  }
  if (o.json) {
    for (const Job& job : jobs) {
      nlohmann::ordered_json j;
      j["input"] = ExactText(job.input);
      j["output"] = job.output.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(ExactText(job.output));
      j["status"] = StatusName(job.status);
      j["reason"] = job.reason.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(job.reason);
      j["renamed"] = !job.renamedFrom.empty();
      console.out << j.dump(-1, ' ', true) << '\n';
    }
  }
  std::ostream& summary = o.json ? console.err : console.out;
  {
    std::lock_guard<std::mutex> guard(console.lock);
    summary << converted << " converted, " << skipped << " skipped, " << failed << " failed\n";
    for (const Job& job : jobs)
      if (job.status == Status::kFailed)
        summary << "  " << DisplayText(job.input) << ": " << job.reason << '\n';
  }
  return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace

void AddConvertCommands(CLI::App& app, Commands& commands) {
  auto convert = std::make_shared<ConvertOptions>();
  CLI::App* convertCmd = app.add_subcommand(
      "convert", "Write a save in the format its target's extension names (" +
                     TargetExtensions(", ", " or ") + ")");
  convertCmd->add_option("SRC", convert->source, "The save to read")->required();
  convertCmd->add_option("DST", convert->target, "The file to write; SRC itself saves in place")
      ->required();
  AddOpenOptions(convertCmd, convert->open);
  convertCmd->footer(
      "Examples:\n"
      "  moravelt-cli convert game.max game.psu\n"
      "  moravelt-cli convert game.sps game.xps\n"
      "  moravelt-cli convert game.cbs BESLES-1234553415645.PSV   (the name a PS3 takes)\n"
      "  moravelt-cli convert game.psu game.psu     (rewrite in place)");
  commands.push_back({convertCmd, [convert](Console& console) { return RunConvert(*convert, console); }});

  auto batch = std::make_shared<BatchOptions>();
  CLI::App* batchCmd = app.add_subcommand(
      "batch", "Convert many saves: the files named and every save under the folders named");
  batchCmd->add_option("--to", batch->to, "Target format: " + TargetFamilyNames(", ", " or "))
      ->required();
  batchCmd->add_option("-o,--output", batch->outDir, "Folder for the outputs (default: beside each input)");
  batchCmd->add_option("-j,--jobs", batch->jobs, "Conversions at once (default: one per CPU; twice the CPUs, at least 8, where outputs are flushed one by one)")
      ->check(CLI::Range(1u, 256u));
  batchCmd->add_flag("-f,--force", batch->force, "Overwrite outputs that exist");
  batchCmd->add_flag("--json", batch->json, "Print one JSON object per input");
  batchCmd->add_flag("-y,--yes", batch->yes, "Answer Yes to a question the loader asks (default: No)");
  batchCmd->add_option("INPUT", batch->inputs, "Save files and folders")->required();
  batchCmd->footer(
      "Outputs keep the input's name with the new extension. Existing files are skipped\n"
      "unless --force; two inputs that would give one output name get distinct names\n"
      "(name-2.psu, name-3.psu, ...) and a warning. A PS3 export (--to psv) is named as a\n"
      "PS3 takes it, from the save's folder name (BESLES-1234553415645.PSV).\n"
      "Examples:\n"
      "  moravelt-cli batch --to psu saves/\n"
      "  moravelt-cli batch --to xps -o out --jobs 2 a.max b.psu more-saves/\n"
      "  moravelt-cli batch --to psv -o usb/PS3/EXPORT/PSV saves/\n"
      "  moravelt-cli batch --to psu --json saves/ > results.jsonl");
  commands.push_back({batchCmd, [batch](Console& console) {
                        batch->to = io::FoldAscii(batch->to);
                        if (batch->to.starts_with('.')) batch->to.erase(0, 1);
                        return RunBatch(*batch, console);
                      }});
}

}  // namespace cli
