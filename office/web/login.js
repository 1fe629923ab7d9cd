"use strict";
// The login page: the session cookie comes with the answer; then the fleet.
document.getElementById("login-form").addEventListener("submit", async (event) => {
  event.preventDefault();
  const error = document.getElementById("login-error");
  error.textContent = "";
  const answer = await fetch("/api/v1/login", {
    method: "POST",
    headers: {"Content-Type": "application/json"},
    body: JSON.stringify({user: document.getElementById("user").value,
                          password: document.getElementById("password").value}),
  });
  if (answer.ok) {
    location.href = "/";
  } else if (answer.status === 429) {
    error.textContent = t("lockedOut") + " (" + (await answer.json()).error + ")";
  } else {
    error.textContent = t("badLogin");
  }
});
