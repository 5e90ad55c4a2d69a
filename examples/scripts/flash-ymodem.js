// Uploads an image to a board waiting at the U-Boot prompt, by YMODEM, into memory at 0x82000000,
// and checks that U-Boot took all of it. On a flashing station:
//   kirt --script examples/scripts/flash-ymodem.js --port COM3 --junit flash.xml
// The image is IMAGE below, relative to the folder kirt runs in. Without a board, lrzsz's rb can
// play the bootloader's receive on a pseudo-terminal (it answers the upload only, not "loady").
const IMAGE = "u-boot.img";
const ADDRESS = "0x82000000";

open(undefined, { baud: 115200 });

test("U-Boot prompt", function () {
    send("\r");
    expect(/=> $/m, 3000);
});

test("upload " + IMAGE + " with loady", function () {
    send("loady " + ADDRESS + "\r");
    // U-Boot says it is ready, then asks with 'C' for the first block.
    expect("Ready for binary (ymodem) download", 3000);
    const result = ymodemSend(IMAGE);
    log("sent " + result.bytes + " bytes in " + result.ms + " ms, " + result.retries + " retries");
    // U-Boot's own count of what it took.
    const total = expect(/Total Size\s*=\s*0x([0-9a-f]+)/i, 5000);
    check(parseInt(total[1], 16) === result.bytes,
          "U-Boot took " + parseInt(total[1], 16) + " bytes of " + result.bytes);
    expect(/=> $/m, 3000);
});

close();
