#pragma once
// Error codes of the fax imaging routines and the exceptions they map to.
// Every routine returns 0 for success or a negative code; components turn a
// negative code into an exception of the class chosen by the code.
#include <exception>
#include <stdexcept>
#include <string>

class TKivBaseComponent;

// Codes the imaging routines produce.
constexpr int kErrFileNotFound = -2;
constexpr int kErrPathNotFound = -3;
constexpr int kErrTooManyOpenFiles = -4;
constexpr int kErrAccessDenied = -5;
constexpr int kErrOutOfMemory = -8;
constexpr int kErrSeek = -25;
constexpr int kErrRead = -30;
constexpr int kErrReadBeyondEnd = -100;
constexpr int kErrBadArgument = -1002;
constexpr int kErrGotQuitMsg = -1003;
constexpr int kErrInternal = -1006;
constexpr int kErrFaxBadFormat = -8001;
constexpr int kErrCantMakeBitmap = -8005;
constexpr int kErrNoImageLoaded = -8050;
constexpr int kErrNoBlockMarked = -8051;
constexpr int kErrUnknownException = -9999;

// Magnitudes 2..162 are the run-time input/output error numbers.
constexpr int kFirstIoError = 2;
constexpr int kLastIoError = 162;

// Base of the imaging exceptions; ErrorCode is the code it was made from
// (0 when made from a text).
class EKIVException : public std::runtime_error {
public:
    explicit EKIVException(int code);
    explicit EKIVException(const std::string& message);
    int ErrorCode() const { return errorCode_; }

private:
    int errorCode_;
};

// The run-time input/output error: carries its (positive) error number.
class EInOutError : public std::runtime_error {
public:
    EInOutError(const std::string& message, int errorNumber)
        : std::runtime_error(message), errorNumber_(errorNumber) {}
    int ErrorCode() const { return errorNumber_; }

private:
    int errorNumber_;
};

// Raised when a string resource is missing or malformed.
class EKivStringResourceError : public EKIVException {
public:
    using EKIVException::EKIVException;
};

// The exception class tree. Families derive from EKIVException, leaves from
// their family, and none adds anything.
#define KIV_EXCEPTION(Name, Parent)          \
    class Name : public Parent {             \
    public:                                  \
        using Parent::Parent;                \
    };
#include "fax/kiv_exception_tree.inc"
#undef KIV_EXCEPTION

// Text for an error code (at most 255 characters): the error table's entry
// for the code's magnitude, else the system's message for that number.
std::string KivErrorMessage(int code);

// Control characters become spaces, then runs of spaces shrink to one.
std::string CleanMessageText(std::string text);

// Raises the exception for a negative code (see the class tree).
[[noreturn]] void RaiseKivError(int code);

// Does nothing for code >= 0 or while the component is being loaded;
// otherwise raises the exception for the code.
void KivErrorCheck(const TKivBaseComponent* component, int code);

// The code an event handler's exception becomes: an EKIVException's
// ErrorCode, an input/output error's number negated, -8 for out of memory,
// -9999 for anything else.
int KivExceptionToCode(std::exception_ptr error);
