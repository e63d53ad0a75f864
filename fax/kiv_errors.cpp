#include "fax/kiv_errors.h"

#include "fax/kiv_base_component.h"
#include "fax/kiv_string_resource.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t kMaxMessageLength = 255;

// The system's message for an error number, or empty when it has none.
std::string SystemMessage(int number)
{
    const char* text = strerrordesc_np(number);
    return text ? std::string(text) : std::string();
}

} // namespace

EKIVException::EKIVException(int code) : std::runtime_error(KivErrorMessage(code)), errorCode_(code) {}

EKIVException::EKIVException(const std::string& message) : std::runtime_error(message), errorCode_(0) {}

std::string CleanMessageText(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 32)
            c = ' ';
    for (std::size_t at; (at = text.find("  ")) != std::string::npos;)
        text.erase(at, 1);
    return text;
}

std::string KivErrorMessage(int code)
{
    const int magnitude = std::abs(code);
    std::string text = KivErrorStrings().GetString(magnitude);
    if (text.empty())
        text = CleanMessageText(SystemMessage(magnitude));
    if (text.size() > kMaxMessageLength)
        text.resize(kMaxMessageLength);
    return text;
}

void RaiseKivError(int code)
{
    switch (code) {
#define KIV_CODE(value, Class) \
    case value:                \
        throw Class(code);
#include "fax/kiv_exception_codes.inc"
#undef KIV_CODE
    default:
        break;
    }
    // Telephony codes: one class for the whole family carries the code.
    if (code <= -13801 && code >= -13942)
        throw ETapi(code);
    if (code == kErrOutOfMemory)
        throw std::bad_alloc();
    if (code <= -kFirstIoError && code >= -kLastIoError)
        throw EInOutError(KivErrorMessage(code), -code);
    throw EKIVException(std::string("Orvo exception"));
}

void KivErrorCheck(const TKivBaseComponent* component, int code)
{
    if (code >= 0 || (component && component->Loading()))
        return;
    RaiseKivError(code);
}

int KivExceptionToCode(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const EKIVException& e) {
        return e.ErrorCode();
    } catch (const EInOutError& e) {
        return -e.ErrorCode();
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    } catch (...) {
        return kErrUnknownException;
    }
}
