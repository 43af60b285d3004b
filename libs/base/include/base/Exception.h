// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <exception>
#include <string>

namespace Korvane {
namespace Base {

/// Root of the maker's exceptions. what() is a developer-facing description; it is not meant
/// for a user's eyes (see MessageException for that).
class Exception : public std::exception {
public:
    explicit Exception(std::string what) : m_what(std::move(what)) {}
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    std::string m_what;
};

/// An exception whose message is written for the user: the node shows userMessage() as its
/// error instead of a generic kernel failure.
class MessageException : public Exception {
public:
    explicit MessageException(const std::string& userMessage)
        : Exception(userMessage), m_userMessage(userMessage) {}
    const std::string& userMessage() const noexcept { return m_userMessage; }

private:
    std::string m_userMessage;
};

/// Thrown when the host aborted a render or the user cancelled long work. Callers unwind
/// without producing a result; the message says where the interruption was noticed.
class InterruptedException : public MessageException {
public:
    InterruptedException() : MessageException("Interrupted") {}
    explicit InterruptedException(const std::string& where) : MessageException(where) {}
};

}  // namespace Base
}  // namespace Korvane
