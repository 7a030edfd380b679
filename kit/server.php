<?php
// A minimal endpoint in plain PHP: GET /score?data=CIPHER_TEXT, where the game sent
// "EncryptString$(" of its message; the answer is "OK " and the message, encrypted the
// same way, for the game's "DecryptString$(". Try it with PHP's own server:
//   CIPHREL_KEY=... php -S 127.0.0.1:8080 server.php
require __DIR__ . '/ciphrel.php';

$key = getenv('CIPHREL_KEY') ?: 'Level7Key';
// The raw query string, not $_GET: that one has decoded the "%XX" escapes already.
$raw = ciphrel_raw_query_value($_SERVER['QUERY_STRING'] ?? '', 'data');
if (parse_url($_SERVER['REQUEST_URI'], PHP_URL_PATH) !== '/score' || $raw === null) {
    http_response_code(400);
    echo "missing data\n";
    return;
}
header('Content-Type: text/plain; charset=ISO-8859-1');
echo ciphrel_encrypt_string($key, 'OK ' . ciphrel_decrypt_string($key, $raw));
