#pragma once
// The framework's exception family and its one message format.
//
// Every message is its parts joined by " : ": the kind ("Runtime Error", "Logic Error", ...),
// optionally "Null Pointer", optionally a detail, the qualified function name, the source file
// (path from the repository root, without extension) and "Line " with the number.
// Programming and resource errors are thrown; expected failures are returned as ZTRESULT.

#include "ZTFramework/Errors/Result.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>

namespace ZT {

class ExceptionBase {
public:
    virtual ~ExceptionBase() = default;
    // The message of the standard exception this object also is.
    virtual const char* GetMessage() const noexcept = 0;
};

class FailedResultException : public std::exception {
public:
    explicit FailedResultException(std::string message) : mMessage(std::move(message)) {}
    const char* what() const noexcept override { return mMessage.c_str(); }

private:
    std::string mMessage;
};

template <class E>
class Exception : public E, public ExceptionBase {
public:
    explicit Exception(const std::string& message) : E(message) {}
    const char* GetMessage() const noexcept override { return this->what(); }
};

// std::bad_alloc carries no message of its own, so this one keeps it.
template <>
class Exception<std::bad_alloc> : public std::bad_alloc, public ExceptionBase {
public:
    explicit Exception(std::string message) : mMessage(std::move(message)) {}
    const char* what() const noexcept override { return mMessage.c_str(); }
    const char* GetMessage() const noexcept override { return mMessage.c_str(); }

private:
    std::string mMessage;
};

enum class ErrorKind { Runtime, Logic, OutOfRange, Domain, InvalidArgument, FailedResult };

const char* ErrorKindText(ErrorKind kind);

// Builds the one message format. An empty detail is left out; nullPointer adds "Null Pointer".
std::string FormatErrorMessage(ErrorKind kind, bool nullPointer, std::string_view detail,
                               std::string_view function, std::string_view file, int line);

// "ZTRESULT = 80004005": the detail part of a "Failed Result" message.
std::string FailedResultDetail(ZTRESULT result);

// Throws the exception type that belongs to the kind, with the formatted message.
[[noreturn]] void ThrowError(ErrorKind kind, bool nullPointer, std::string_view detail,
                             std::string_view function, std::string_view file, int line);

// The run-time name of a type as messages show it: "class ZT::LNotification" for classes,
// the plain name ("int", "unsigned int") for other types.
std::string DemangledName(const std::type_info& type);
std::string TypeDisplayName(const std::type_info& type, bool isClass);

template <class T>
std::string TypeName()
{
    return TypeDisplayName(typeid(T), std::is_class_v<T>);
}

} // namespace ZT

// The throwing macros name the caller's file and line; the function is passed as text because
// the messages carry the qualified name ("ZT::LMainControl::Initialize").
#define ZT_THROW(kind, detail, function) \
    ::ZT::ThrowError(::ZT::ErrorKind::kind, false, (detail), (function), __FILE__, __LINE__)
#define ZT_THROW_NULL_POINTER(detail, function) \
    ::ZT::ThrowError(::ZT::ErrorKind::Runtime, true, (detail), (function), __FILE__, __LINE__)
#define ZT_THROW_FAILED_RESULT(result, function)                                                 \
    ::ZT::ThrowError(::ZT::ErrorKind::FailedResult, false, ::ZT::FailedResultDetail(result), \
                     (function), __FILE__, __LINE__)
// Turns a failed result that the caller cannot handle into a "Failed Result" exception.
#define ZT_THROW_IF_FAILED(expression, function)                \
    do {                                                        \
        const ::ZT::ZTRESULT ztResult_ = (expression);          \
        if (::ZT::Failed(ztResult_))                            \
            ZT_THROW_FAILED_RESULT(ztResult_, function);        \
    } while (false)
