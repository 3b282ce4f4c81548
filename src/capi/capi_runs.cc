// The runs a host starts: each description is checked field by field (a
// wrong one is named in the session's message), then turned into the
// command qvbackup runs for it.
#include <cstddef>
#include <string>
#include <vector>

#include "capi_selection.h"
#include "capi_session.h"

namespace {

using qv::capi::Command;
using qv::capi::Refuse;
using qv::capi::WString;
using qv::capi::Wide;

using Arguments = std::vector<WString>;

void Option(Arguments* arguments, const char* name, const WString& value) {
  arguments->push_back(Wide(name));
  arguments->push_back(value);
}

void Option(Arguments* arguments, const char* name, unsigned long long value) {
  Option(arguments, name, Wide(std::to_string(value)));
}

bool Empty(const char* text) { return text == nullptr || *text == 0; }

int Invalid(qvb_session* session, const std::string& why) {
  return Refuse(session, QVB_ERROR_INVALID_PARAMETER, why);
}

// The selection's filters and exclusions as backup takes them.
void SelectionOptions(const qvb_selection& selection, Arguments* arguments) {
  for (const WString& mask : selection.masks) Option(arguments, "--mask", mask);
  for (const WString& extension : selection.extensions) Option(arguments, "--ext", extension);
  if (!selection.categories.empty()) Option(arguments, "--categories", selection.categories);
  static const char* const kExclude[] = {"--exclude", "--exclude-dir", "--exclude-file", "--exclude-ext"};
  for (const auto& [what, pattern] : selection.exclusions) Option(arguments, kExclude[what], pattern);
}

// The profile options count and lst take: partitions or base, exclusions
// of folders, files and extensions, the groups' folder.
int ProfileOptions(qvb_session* session, const qvb_selection& selection, bool withBase, Arguments* arguments) {
  if (!selection.partitions.empty()) Option(arguments, "--partitions", selection.partitions);
  if (withBase && !selection.base.empty()) Option(arguments, "--base", selection.base);
  if (!selection.groups.empty()) Option(arguments, "--groups", selection.groups);
  static const char* const kExclude[] = {nullptr, "--exclude-dir", "--exclude-file", "--exclude-ext"};
  for (const auto& [what, pattern] : selection.exclusions) {
    if (kExclude[what] == nullptr) {
      return Invalid(session, "selection: a count or a list file excludes folders, files or extensions, "
                              "not QVB_EXCLUDE_ANY");
    }
    Option(arguments, kExclude[what], pattern);
  }
  if (!selection.sources.empty() || !selection.masks.empty() || !selection.extensions.empty()) {
    return Invalid(session, "selection: a count or a list file takes partitions or a base, not sources, masks "
                            "or extensions");
  }
  return QVB_OK;
}

// The backup command of `selection` and `options`; QVB_OK or the refusal.
int BackupArguments(qvb_session* session, const qvb_selection* selection, const qvb_backup_options* options,
                    Arguments* arguments) {
  if (selection == nullptr) return Invalid(session, "selection: none was given");
  if (selection->sources.empty()) return Invalid(session, "selection: no source was added");
  if (options == nullptr) return Invalid(session, "options: none were given");
  if (options->struct_size < sizeof(qvb_backup_options)) {
    return Invalid(session, "options.struct_size: " + std::to_string(options->struct_size) +
                                " is not the size of qvb_backup_options (call qvb_options_init)");
  }
  if (Empty(options->to)) return Invalid(session, "options.to: the archive's folder is needed");
  if (Empty(options->name)) return Invalid(session, "options.name: the archive's name is needed");
  if (options->incremental && options->replace) {
    return Invalid(session, "options.incremental and options.replace: a backup is one or the other");
  }
  if (options->volume_size != 0 && options->volume_size < 65536) {
    return Invalid(session, "options.volume_size: " + std::to_string(options->volume_size) +
                                " is less than 65536 bytes (0: one file)");
  }
  if (options->block_size != 0 && (options->block_size < 1000 || options->block_size > 512UL * 1024 * 1024)) {
    return Invalid(session, "options.block_size: " + std::to_string(options->block_size) +
                                " is not from 1000 to 536870912 (0: the default)");
  }
  if (options->compress != 0 && options->compress != 1) {
    return Invalid(session, "options.compress: " + std::to_string(options->compress) + " is neither 0 nor 1");
  }
  const int bits = options->key_bits;
  const bool weak = bits == 32 || bits == 64;
  if (bits != 0 && bits != 128 && bits != 160 && bits != 256 && !weak) {
    return Invalid(session, "options.key_bits: " + std::to_string(bits) + " is not 128, 160 or 256 (0: 256)");
  }
  if (weak && !options->allow_weak_key) {
    return Invalid(session, "options.key_bits: " + std::to_string(bits) +
                                "-bit keys can be found by trying; set options.allow_weak_key to use one");
  }
  if (bits != 0 && session->password.empty()) {
    return Invalid(session, "options.key_bits: a key needs a password (qvb_session_set_password)");
  }
  if (options->threads < 0 || options->threads > 64) {
    return Invalid(session, "options.threads: " + std::to_string(options->threads) +
                                " is not from 1 to 64 (0: one per processor core)");
  }
  if (!options->self_extracting && !Empty(options->sfx_stub)) {
    return Invalid(session, "options.sfx_stub: a stub is for a self-extracting archive (options.self_extracting)");
  }
  arguments->push_back(Wide("backup"));
  Option(arguments, "--to", Wide(options->to));
  Option(arguments, "--name", Wide(options->name));
  SelectionOptions(*selection, arguments);
  if (options->incremental) arguments->push_back(Wide("--incremental"));
  if (options->replace) arguments->push_back(Wide("--replace"));
  if (options->self_extracting) arguments->push_back(Wide("--sfx"));
  if (!Empty(options->sfx_stub)) Option(arguments, "--sfx-stub", Wide(options->sfx_stub));
  if (options->volume_size != 0) Option(arguments, "--volume-size", options->volume_size);
  if (options->block_size != 0) Option(arguments, "--block-size", options->block_size);
  if (options->compress == 0) arguments->push_back(Wide("--no-compress"));
  if (bits != 0) Option(arguments, "--key-bits", static_cast<unsigned long long>(bits));
  if (options->allow_weak_key) arguments->push_back(Wide("--allow-weak-key"));
  if (options->threads != 0) Option(arguments, "--threads", static_cast<unsigned long long>(options->threads));
  return QVB_OK;
}

// The sources go last, after a "--": a path may begin with '-'.
void AddSources(const qvb_selection& selection, Arguments* arguments) {
  arguments->push_back(Wide("--"));
  for (const WString& source : selection.sources) arguments->push_back(source);
}

// The options list and restore share; QVB_OK or the refusal.
int ReadOptions(qvb_session* session, const qvb_read_options* options, bool restore, Arguments* arguments) {
  if (options == nullptr) return QVB_OK;
  if (options->struct_size < sizeof(qvb_read_options)) {
    return Invalid(session, "options.struct_size: " + std::to_string(options->struct_size) +
                                " is not the size of qvb_read_options (call qvb_read_options_init)");
  }
  if (options->pattern_count != 0 && options->patterns == nullptr) {
    return Invalid(session, "options.patterns: null with options.pattern_count " +
                                std::to_string(options->pattern_count));
  }
  for (std::size_t i = 0; i < options->pattern_count; ++i) {
    if (Empty(options->patterns[i])) {
      return Invalid(session, "options.patterns[" + std::to_string(i) + "]: empty");
    }
  }
  if (options->as_of < -1) return Invalid(session, "options.as_of: " + std::to_string(options->as_of));
  if (options->increment < -1) return Invalid(session, "options.increment: " + std::to_string(options->increment));
  if (options->as_of >= 0 && options->increment >= 0) {
    return Invalid(session, "options.as_of and options.increment: a chain is read one way or the other");
  }
  if (options->as_of >= 0) Option(arguments, "--as-of", static_cast<unsigned long long>(options->as_of));
  if (options->increment >= 0) {
    Option(arguments, "--increment", static_cast<unsigned long long>(options->increment));
  }
  if (restore) {
    static const char* const kOverwrite[] = {"never", "older", "always"};
    if (options->overwrite < QVB_OVERWRITE_NEVER || options->overwrite > QVB_OVERWRITE_ALWAYS) {
      return Invalid(session, "options.overwrite: " + std::to_string(options->overwrite) +
                                  " is not QVB_OVERWRITE_NEVER, _OLDER or _ALWAYS");
    }
    Option(arguments, "--overwrite", Wide(kOverwrite[options->overwrite]));
  } else if (options->overwrite != QVB_OVERWRITE_NEVER || options->original) {
    return Invalid(session, "options.overwrite and options.original: a list writes nothing");
  }
  return QVB_OK;
}

// "--", the archive, then the patterns.
void ArchiveAndPatterns(const WString& archive, const qvb_read_options* options, Arguments* arguments) {
  arguments->push_back(Wide("--"));
  arguments->push_back(archive);
  if (options == nullptr) return;
  for (std::size_t i = 0; i < options->pattern_count; ++i) arguments->push_back(Wide(options->patterns[i]));
}

int List(qvb_session* session, const WString* archive, const qvb_read_options* options) {
  if (session == nullptr) return QVB_ERROR_INVALID_PARAMETER;
  if (archive == nullptr || archive->empty()) return Invalid(session, "archive: no archive was named");
  Arguments arguments{Wide("list")};
  if (int error = ReadOptions(session, options, false, &arguments); error != QVB_OK) return error;
  ArchiveAndPatterns(*archive, options, &arguments);
  return qv::capi::RunCommand(session, Command::kList, arguments);
}

int Restore(qvb_session* session, const WString* archive, const WString* target, const qvb_read_options* options) {
  if (session == nullptr) return QVB_ERROR_INVALID_PARAMETER;
  if (archive == nullptr || archive->empty()) return Invalid(session, "archive: no archive was named");
  const bool original = options != nullptr && options->struct_size >= sizeof(qvb_read_options) && options->original;
  const bool toTarget = target != nullptr && !target->empty();
  if (original == toTarget) {
    return Invalid(session, original ? "target: options.original restores to the saved paths; give no target"
                                     : "target: a restore needs a target folder (or options.original)");
  }
  Arguments arguments{Wide("restore")};
  if (toTarget) {
    Option(&arguments, "--to", *target);
  } else {
    arguments.push_back(Wide("--original"));
  }
  if (int error = ReadOptions(session, options, true, &arguments); error != QVB_OK) return error;
  ArchiveAndPatterns(*archive, options, &arguments);
  return qv::capi::RunCommand(session, Command::kRestore, arguments);
}

int ArchiveCommand(qvb_session* session, const char* command, Command kind, const WString* archive) {
  if (session == nullptr) return QVB_ERROR_INVALID_PARAMETER;
  if (archive == nullptr || archive->empty()) return Invalid(session, "archive: no archive was named");
  return qv::capi::RunCommand(session, kind, {Wide(command), Wide("--"), *archive});
}

// Null stays null; UTF-8 or UTF-16 becomes the commands' text.
const WString* Text8(const char* text, WString* out) {
  if (text == nullptr) return nullptr;
  *out = Wide(text);
  return out;
}

const WString* Text16(const qvb_char16* text, WString* out) {
  return qv::capi::WideFromHost(text, out) ? out : nullptr;
}

}  // namespace

extern "C" {

QVB_API void qvb_options_init(qvb_backup_options* options) {
  if (options == nullptr) return;
  *options = qvb_backup_options{};
  options->struct_size = sizeof(qvb_backup_options);
  options->compress = 1;
}

QVB_API void qvb_read_options_init(qvb_read_options* options) {
  if (options == nullptr) return;
  *options = qvb_read_options{};
  options->struct_size = sizeof(qvb_read_options);
  options->as_of = -1;
  options->increment = -1;
  options->overwrite = QVB_OVERWRITE_NEVER;
}

QVB_API int qvb_backup(qvb_session* session, const qvb_selection* selection, const qvb_backup_options* options) {
  if (session == nullptr) return QVB_ERROR_INVALID_PARAMETER;
  Arguments arguments;
  if (int error = BackupArguments(session, selection, options, &arguments); error != QVB_OK) return error;
  AddSources(*selection, &arguments);
  return qv::capi::RunCommand(session, Command::kBackup, arguments);
}

QVB_API int qvb_file_list(qvb_session* session, const qvb_selection* selection, const qvb_backup_options* options) {
  if (session == nullptr) return QVB_ERROR_INVALID_PARAMETER;
  Arguments arguments;
  if (int error = BackupArguments(session, selection, options, &arguments); error != QVB_OK) return error;
  arguments.push_back(Wide("--dry-run"));
  AddSources(*selection, &arguments);
  return qv::capi::RunCommand(session, Command::kFileList, arguments);
}

QVB_API int qvb_list(qvb_session* session, const char* archive, const qvb_read_options* options) {
  WString text;
  return List(session, Text8(archive, &text), options);
}

QVB_API int qvb_list_w(qvb_session* session, const qvb_char16* archive, const qvb_read_options* options) {
  WString text;
  return List(session, Text16(archive, &text), options);
}

QVB_API int qvb_restore(qvb_session* session, const char* archive, const char* target,
                        const qvb_read_options* options) {
  WString archiveText;
  WString targetText;
  return Restore(session, Text8(archive, &archiveText), Text8(target, &targetText), options);
}

QVB_API int qvb_restore_w(qvb_session* session, const qvb_char16* archive, const qvb_char16* target,
                          const qvb_read_options* options) {
  WString archiveText;
  WString targetText;
  return Restore(session, Text16(archive, &archiveText), Text16(target, &targetText), options);
}

QVB_API int qvb_verify(qvb_session* session, const char* archive) {
  WString text;
  return ArchiveCommand(session, "verify", Command::kVerify, Text8(archive, &text));
}

QVB_API int qvb_verify_w(qvb_session* session, const qvb_char16* archive) {
  WString text;
  return ArchiveCommand(session, "verify", Command::kVerify, Text16(archive, &text));
}

QVB_API int qvb_members(qvb_session* session, const char* archive) {
  WString text;
  return ArchiveCommand(session, "members", Command::kMembers, Text8(archive, &text));
}

QVB_API int qvb_count(qvb_session* session, const qvb_selection* selection) {
  if (session == nullptr) return QVB_ERROR_INVALID_PARAMETER;
  if (selection == nullptr) return Invalid(session, "selection: none was given");
  if (selection->partitions.empty() == selection->base.empty()) {
    return Invalid(session, "selection: a count takes partitions or a base (one of the two)");
  }
  Arguments arguments{Wide("count")};
  if (int error = ProfileOptions(session, *selection, true, &arguments); error != QVB_OK) return error;
  return qv::capi::RunCommand(session, Command::kCount, arguments);
}

QVB_API int qvb_write_list_file(qvb_session* session, const qvb_selection* selection, const char* file, int others,
                                const char* since) {
  if (session == nullptr) return QVB_ERROR_INVALID_PARAMETER;
  if (selection == nullptr) return Invalid(session, "selection: none was given");
  if (Empty(file)) return Invalid(session, "file: the list file's path is needed");
  if (selection->partitions.empty()) return Invalid(session, "selection: a list file needs partitions");
  if (!selection->base.empty()) return Invalid(session, "selection: a list file takes no base");
  if ((others != 0) == !selection->categories.empty()) {
    return Invalid(session, "others: a list file takes the selection's categories or the others (one of the two)");
  }
  Arguments arguments{Wide("lst")};
  if (int error = ProfileOptions(session, *selection, false, &arguments); error != QVB_OK) return error;
  if (!selection->categories.empty()) Option(&arguments, "--categories", selection->categories);
  if (others != 0) arguments.push_back(Wide("--others"));
  if (!Empty(since)) Option(&arguments, "--since", Wide(since));
  arguments.push_back(Wide("--"));
  arguments.push_back(Wide(file));
  return qv::capi::RunCommand(session, Command::kListFile, arguments);
}

}  // extern "C"
