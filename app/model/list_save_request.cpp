#include "list_save_request.h"

namespace {

bool pending = false;

}  // namespace

void SaveJobListSoon() {
    // Nothing is lost by the wait, even if the program dies before the save. The
    // only records a late save still holds are Done jobs. Brought back by the
    // next start, such a job asks for the bytes past the end of its complete file,
    // and the resume logic takes the answer as complete: a server that keeps
    // ranges says the range starts at the file's full length (416 with that
    // length), one that does not announces that same length, and either way the
    // run ends Done without writing a byte. Adds and deletes are not delayed
    // (they change what the user would get back), and neither is the shutdown.
    pending = true;
}

bool JobListSavePending() { return pending; }

void DropJobListSaveRequest() { pending = false; }
