#pragma once
// Security framework status codes and their texts.
#include <QString>
#include <cstdint>

using OSStatus = int32_t;

constexpr OSStatus errSecSuccess = 0;
constexpr OSStatus errAuthorizationSuccess = 0;
constexpr OSStatus errAuthorizationInvalidSet = -60001;
constexpr OSStatus errAuthorizationInvalidRef = -60002;
constexpr OSStatus errAuthorizationInvalidTag = -60003;
constexpr OSStatus errAuthorizationInvalidPointer = -60004;
constexpr OSStatus errAuthorizationDenied = -60005;
constexpr OSStatus errAuthorizationCanceled = -60006;
constexpr OSStatus errAuthorizationInteractionNotAllowed = -60007;
constexpr OSStatus errAuthorizationInternal = -60008;
constexpr OSStatus errAuthorizationExternalizeNotAllowed = -60009;
constexpr OSStatus errAuthorizationInternalizeNotAllowed = -60010;
constexpr OSStatus errAuthorizationInvalidFlags = -60011;
constexpr OSStatus errAuthorizationToolExecuteFailure = -60031;
constexpr OSStatus errAuthorizationToolEnvironmentError = -60032;
constexpr OSStatus errAuthorizationBadAddress = -60033;

// The text for a status, or a null string when there is none for it.
QString SecCopyErrorMessageString(OSStatus status, void* reserved = nullptr);
