// Keeps the browser library non-empty while it grows.
