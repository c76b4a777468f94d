#pragma once
// Where the settings screen's links and feedback mail go.

// The maker's support page, the page where Kelvara can be rated and reviewed,
// and the maker's home page.
inline constexpr const char* KLSupportWebAddress = "https://orvane.com/kelvara/support";
inline constexpr const char* KLRateAndReviewWebAddress = "https://orvane.com/kelvara/review";
inline constexpr const char* KLMakerWebAddress = "https://orvane.com";

// The recipient of feedback mail.
inline constexpr const char* KLSupportMailAddress = "support@orvane.com";
