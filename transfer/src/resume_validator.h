// The validator of a partial file: which version of the resource its bytes are.
//
// A partial file is continued with a Range request. Had the resource changed in
// between (a new release under the same name, another build from a CDN), the file
// would end as the head of one version and the tail of another. So when the body
// of an answer starts, its validator (a strong ETag, else the Last-Modified text)
// is kept in an extended attribute of the file itself, with the origin of the
// server that gave it; a resume sends it as If-Range to that origin, and a server
// that finds the resource changed answers with the whole new one. The attribute
// travels and vanishes with the file and is removed once the file is complete.
//
// Extended attributes are a help, never a condition: on a file system without
// them, or when one cannot be written, the file resumes as it always did.
#pragma once

#include <optional>
#include <string>

#include "brindlex/vbrindlex.h"

namespace brindlex {

// The attribute that holds "<origin> <validator>".
inline constexpr char kValidatorAttribute[] = "user.vantorel.validator";

struct ResumeValidator {
    std::string origin;  // "scheme://host:port" of the server that gave it
    std::string value;   // the If-Range value: an ETag or an HTTP date
};

// Worker thread, on the open output file. The validator kept with the file; none
// when there is none or what is there is not one we wrote.
std::optional<ResumeValidator> ReadResumeValidator(int fd);

// Worker thread, on an answer that would continue a file whose validator is
// `held`: whether it is of that version, its strong ETag or its Last-Modified
// text being the held value. An answer that gives neither cannot be told from
// another version, so it is not. Whichever origin sent it: a mirror reached by a
// redirect gets no If-Range, so this is the only check its ranges ever pass.
bool IsHeldVersion(const ResumeValidator& held, VHINTERNET answer);

// The validator of an answer with the origin that gave it; none when the answer
// gives no strong ETag and no Last-Modified.
std::optional<ResumeValidator> AnswerValidator(VHINTERNET answer);

// Worker thread, once the final answer's body is about to be written. Keeps the
// answer's validator with the file. An answer without one leaves a continued
// file's validator as it was (the server found it current) and removes it from a
// file being rewritten from the start (it names the old version).
void KeepResumeValidator(int fd, VHINTERNET answer, bool continuation);

// The file is complete: nothing to resume, nothing to keep.
void ForgetResumeValidator(int fd);

}  // namespace brindlex
