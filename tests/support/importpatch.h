// Failures the platform does not produce on demand under Wine (an access
// denied to a process running as root, say) are injected by replacing one
// entry of the test program's own import table: the program's code linked
// into the test then calls the replacement instead of the platform function.
#pragma once

namespace testsupport {

// Replaces `function` imported from `dll` for as long as it lives. Not for
// functions the test itself calls while it is in place, unless the
// replacement hands those calls on to Original().
class ImportPatch {
public:
    ImportPatch(const char* dll, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    // False when the test program does not import the function.
    bool Ok() const { return slot_ != nullptr; }
    void* Original() const { return original_; }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

}  // namespace testsupport
