<?php
// A minimal endpoint in plain PHP: GET /score?data=CIPHER_TEXT, where the game sent
// "EncryptString$(" of its message under the URL-safe filter, exactly as it wrote it; the
// answer is "OK " and the message, encrypted the same way, for the game's "DecryptString$(".
// Anything else is answered 400 with the reason. Try it with PHP's own server:
//   CIPHREL_KEY=... php -S 127.0.0.1:8080 server.php     (or CIPHREL_KEY_HEX=... for hex bytes)
require __DIR__ . '/ciphrel.php';

const CIPHREL_FILTER = CIPHREL_URL_SAFE;   // the filter the game sets up before it encrypts

function answer(int $status, string $text): void
{
    http_response_code($status);
    header('Content-Type: text/plain; charset=us-ascii');
    echo "$text\n";
}

// The key from CIPHREL_KEY (text, as the game's Windows-1252 bytes) or CIPHREL_KEY_HEX; an
// InvalidArgumentException when neither or both are set, or the one set is empty or no key.
function endpoint_key(): string
{
    $text = getenv('CIPHREL_KEY');
    $hex = getenv('CIPHREL_KEY_HEX');
    if (($text === false) === ($hex === false)) {
        throw new InvalidArgumentException('set the key in CIPHREL_KEY (text) or CIPHREL_KEY_HEX '
            . '(hexadecimal), one of them' . ($text !== false ? ', not both' : ''));
    }
    if ($text === '' || $hex === '') {
        throw new InvalidArgumentException('the key is empty; for the game\'s empty key set '
            . 'CIPHREL_KEY_HEX=00, which is the same key');
    }
    if ($text !== false) return ciphrel_key_bytes_from_text($text);
    $hex = preg_replace('/\s+/', '', $hex);
    if (!preg_match('/^([0-9a-fA-F]{2})+$/D', $hex)) {
        throw new InvalidArgumentException('CIPHREL_KEY_HEX is not hexadecimal');
    }
    return hex2bin($hex);
}

try {
    $key = endpoint_key();
} catch (InvalidArgumentException $error) {
    // PHP has no start to refuse: every request is told, and the server's log.
    error_log('server.php: ' . $error->getMessage());
    answer(500, 'server.php: ' . $error->getMessage());
    return;
}
// The raw query string, not $_GET: that one has decoded the "%XX" escapes already.
$raw = ciphrel_raw_query_value($_SERVER['QUERY_STRING'] ?? '', 'data');
if (parse_url($_SERVER['REQUEST_URI'], PHP_URL_PATH) !== '/score' || $raw === null) {
    answer(400, 'missing data');
    return;
}
$reason = ciphrel_cipher_text_error($raw, CIPHREL_FILTER);
if ($reason !== null) {
    answer(400, $reason);
    return;
}
header('Content-Type: text/plain; charset=ISO-8859-1');
echo ciphrel_encrypt_string($key, 'OK ' . ciphrel_decrypt_string($key, $raw));
