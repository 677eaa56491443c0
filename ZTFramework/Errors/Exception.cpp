#include "ZTFramework/Errors/Exception.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace ZT {

const char* ErrorKindText(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::Runtime: return "Runtime Error";
    case ErrorKind::Logic: return "Logic Error";
    case ErrorKind::OutOfRange: return "Out of Range";
    case ErrorKind::Domain: return "Domain Error";
    case ErrorKind::InvalidArgument: return "Invalid Argument";
    case ErrorKind::FailedResult: return "Failed Result";
    }
    return "Runtime Error";
}

namespace {

// "ZTFramework/ObjectBase/RefCountedObject.cpp" -> "ZTFramework/ObjectBase/RefCountedObject".
std::string_view WithoutExtension(std::string_view file)
{
    const auto slash = file.find_last_of('/');
    const auto dot = file.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return file;
    return file.substr(0, dot);
}

} // namespace

std::string FormatErrorMessage(ErrorKind kind, bool nullPointer, std::string_view detail,
                               std::string_view function, std::string_view file, int line)
{
    std::string message = ErrorKindText(kind);
    if (nullPointer)
        message += " : Null Pointer";
    if (!detail.empty()) {
        message += " : ";
        message += detail;
    }
    message += " : ";
    message += function;
    message += " : ";
    message += WithoutExtension(file);
    message += " : Line ";
    message += std::to_string(line);
    return message;
}

std::string FailedResultDetail(ZTRESULT result)
{
    char text[32];
    std::snprintf(text, sizeof text, "ZTRESULT = %X", static_cast<unsigned>(result));
    return text;
}

void ThrowError(ErrorKind kind, bool nullPointer, std::string_view detail, std::string_view function,
                std::string_view file, int line)
{
    const std::string message = FormatErrorMessage(kind, nullPointer, detail, function, file, line);
    switch (kind) {
    case ErrorKind::Runtime: throw Exception<std::runtime_error>(message);
    case ErrorKind::Logic: throw Exception<std::logic_error>(message);
    case ErrorKind::OutOfRange: throw Exception<std::out_of_range>(message);
    case ErrorKind::Domain: throw Exception<std::domain_error>(message);
    case ErrorKind::InvalidArgument: throw Exception<std::invalid_argument>(message);
    case ErrorKind::FailedResult: throw Exception<FailedResultException>(message);
    }
    throw Exception<std::runtime_error>(message);
}

std::string DemangledName(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

std::string TypeDisplayName(const std::type_info& type, bool isClass)
{
    return isClass ? "class " + DemangledName(type) : DemangledName(type);
}

} // namespace ZT
