#pragma once
// A handler may destroy the object that called it. Code further up that
// stack watches the object's token and touches nothing of it once it is gone.

#include <memory>

class LifeToken {
 public:
  // Expires when the token's owner is destroyed; safe to ask from any thread.
  std::weak_ptr<const void> Watch() const { return token_; }
  // Expires every watch taken so far, as if the owner had gone.
  void Renew() { token_ = std::make_shared<const int>(0); }

 private:
  std::shared_ptr<const int> token_ = std::make_shared<const int>(0);
};
