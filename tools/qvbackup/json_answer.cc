#include "json_answer.h"

#include <optional>

namespace qvtool {

namespace {

struct Answer {
  bool json = false;
  std::optional<JsonObject> document;
  bool failed = false;
  WString message;
  DWORD code = 0;
};

// One run, one answer: the program runs one command and ends.
Answer& TheAnswer() {
  static Answer answer;
  return answer;
}

bool IsFailure(int status) { return status != kExitSuccess && status != kExitChanged; }

}  // namespace

void StartAnswer(const std::vector<WString>& arguments) {
  Answer& answer = TheAnswer();
  answer = Answer();
  const WString flag = Widen("--json");
  for (const WString& argument : arguments) {
    if (argument == Widen("--")) break;
    if (argument.compare(0, flag.size(), flag) == 0 && (argument.size() == flag.size() || argument[flag.size()] == '=')) {
      answer.json = true;
    }
  }
}

void ConfirmJsonAnswer(bool json) { TheAnswer().json = json; }

bool AnswersInJson() { return TheAnswer().json; }

void AnswerWith(const JsonObject& document) { TheAnswer().document = document; }

void NoteFailure(const WString& message, DWORD code) {
  Answer& answer = TheAnswer();
  if (answer.failed) return;
  answer.failed = true;
  answer.message = message;
  answer.code = code;
}

int FinishAnswer(int status) {
  Answer& answer = TheAnswer();
  if (!answer.json) return status;
  JsonObject object = answer.document.value_or(JsonObject());
  if (IsFailure(status)) {
    const WString message =
        answer.failed ? answer.message : Widen("the command failed with exit status ") + Number(status);
    JsonObject error;
    error.Add("message", message);
    if (answer.failed && answer.code != 0) {
      error.Add("code", static_cast<ULONGLONG>(answer.code));
    } else {
      error.AddRaw("code", Widen("null"));
    }
    object.AddRaw("error", error.Text()).AddSigned("exit", status);
  }
  WriteOut(object.Text() + Widen("\n"));
  return status;
}

}  // namespace qvtool
