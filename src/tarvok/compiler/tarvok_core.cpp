// The Tarvok compiler front-end (written together with the compiler).
