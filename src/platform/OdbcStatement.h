#pragma once
// A statement handle: direct execution, or one prepared text run many times with bound parameters.
// Parameter buffers live in the statement and are reused from row to row; a parameter is bound again
// only when its type or buffer changes, so that the driver can keep its prepared handle.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/OdbcConnection.h"
#include "platform/OdbcValue.h"

namespace kestrane {

class OdbcStatement {
public:
    explicit OdbcStatement(OdbcConnection& connection);
    ~OdbcStatement();
    OdbcStatement(const OdbcStatement&) = delete;
    OdbcStatement& operator=(const OdbcStatement&) = delete;

    // Runs a text without parameters; its results are discarded.
    void ExecuteDirect(const std::wstring& text);
    // Prepares a text whose parameters are "?" markers.
    void Prepare(const std::wstring& text);
    // Binds one value per marker, in order, and runs the prepared text. Returns the rows it affected
    // (-1 when the driver does not say).
    int64_t Execute(const std::vector<OdbcValue>& values);

private:
    class Waiting;
    struct Binding {
        short cType = 0;
        short sqlType = 0;
        uint64_t columnSize = 0;
        short digits = 0;
        const void* buffer = nullptr;
        int64_t bufferLength = 0;
        bool operator==(const Binding&) const = default;
    };
    struct Slot {
        std::vector<uint8_t> buffer;
        int64_t indicator = 0;
        Binding bound;
        bool hasBinding = false;
    };
    void Bind(size_t index, const OdbcValue& value);
    void DrainResults();
    [[noreturn]] void Fail();

    OdbcConnection& connection_;
    void* stmt_ = nullptr;
    std::vector<Slot> slots_;
};

}  // namespace kestrane
